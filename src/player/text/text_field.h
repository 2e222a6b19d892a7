#pragma once
// A text field as it lives on the stage: its box, its options and its
// formatted text, read and changed by scripts and drawn by the renderer. The
// renderer draws a snapshot (TextLook) that is made again after each change,
// so equal snapshots mean an unchanged picture.

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "player/text/text_layout.h"

namespace quarvel::player {

struct EditTextDef;
struct MovieLibrary;

namespace text {

// A TextFormat as scripts hold it: unset members leave the text as it is.
struct FormatPatch {
  std::optional<std::string> font, url, target;
  std::optional<double> size, letterSpacing, leftMargin, rightMargin, indent, blockIndent, leading;
  std::optional<std::uint32_t> color;
  std::optional<bool> bold, italic, underline, kerning, bullet;
  std::optional<Align> align;
  std::optional<std::vector<double>> tabStops;
  // A style's "display" (block, inline or none): how HTML tags it styles
  // break lines and show their text; no member of a format.
  std::optional<std::string> display;
  void ApplyTo(Format& f) const;
  // Members equal over the range stay set; others become unset.
  void Intersect(const Format& f);
  static FormatPatch From(const Format& f);
};

// Style sheet rules by selector ("p", ".note", "a:hover"), lower case.
using StyleRules = std::map<std::string, FormatPatch>;
// A CSS property ("font-size", "fontSize") and its value into a patch.
void ApplyCssProperty(const std::string& name, const std::string& value, FormatPatch& p);
// A style sheet as Flash's own parser reads it, for ActionScript 1/2: rules
// in their order, selectors and names as written (names in camel case),
// values with their trailing spaces; nullopt when Flash refuses the text.
// ActionScript 3's reading (`as3Rules`) keeps an empty selector and empty
// property names, and ends a value at a line end.
using CssProperties = std::vector<std::pair<std::string, std::string>>;
using CssRules = std::vector<std::pair<std::string, CssProperties>>;
std::optional<CssRules> ParseCssStrict(const std::string& css, bool as3Rules = false);
// A style's colour value ("#f00"), or none.
std::optional<std::uint32_t> ParseCssColor(const std::string& value);
// Parses a style sheet; false when it is not CSS.
bool ParseCss(const std::string& css, std::map<std::string, std::map<std::string, std::string>>& out);

// Flash's HTML subset into formatted text, starting from `base`. A field
// that is not multiline takes no line ends from tags (<br>, </p>), only those
// written in the text. A maxSize above 0 caps font sizes. Up to SWF 7
// (`whitePerStretch`) a stretch of text between tags that is only white space
// is dropped, font tags' kerning is not read, and condenseWhite works on each
// stretch alone: every run of white space, first and last included, becomes
// one space.
void ParseHtml(const std::string& html, const Format& base, const StyleRules* styles, bool condenseWhite,
               StyledText& out, bool multiline = true, double maxSize = 0, bool whitePerStretch = false);
// Formatted text as Flash writes htmlText.
std::string WriteHtml(const StyledText& t, const Format& base);

// What the renderer draws. Pixels, in the field's space.
struct TextLook {
  Layout layout;
  double x = 0, y = 0, width = 0, height = 0;  // the box, after autoSize
  bool border = false, background = false;
  std::uint32_t borderColor = 0, backgroundColor = 0xFFFFFF;
  int scroll = 1;
  double hscroll = 0;
  bool advancedAntiAlias = false;  // the movie's own fonts stay smooth at low quality
};

class TextField {
 public:
  TextField();
  // A field from a timeline's DefineEditText.
  static std::shared_ptr<TextField> FromDef(const EditTextDef& def, const MovieLibrary* lib);
  // Where embedded fonts are found.
  void SetLibrary(const MovieLibrary* lib) { lib_ = lib; }

  // Plain text with '\r' between paragraphs.
  std::string Text() const;
  void SetText(const std::string& s);
  std::string HtmlText() const;
  void SetHtmlText(const std::string& s);
  // What a bound variable or a timeline puts in: HTML when the field is.
  void SetShown(const std::string& s);
  // The new text takes the format of the character after the range, or the
  // default format at the end.
  void ReplaceText(std::size_t begin, std::size_t end, const std::string& s);
  std::size_t Length() const { return content_.chars.size(); }
  // The selection from `anchor` to the caret, in characters, kept within the text.
  std::size_t SelectionBegin() const { return std::min(std::min(anchor_, caret_), Length()); }
  std::size_t SelectionEnd() const { return std::min(std::max(anchor_, caret_), Length()); }
  std::size_t Caret() const { return std::min(caret_, Length()); }
  void SetSelection(std::size_t anchor, std::size_t caret) {
    anchor_ = anchor;
    caret_ = caret;
  }
  const StyledText& Content() const { return content_; }

  void SetFormat(std::size_t begin, std::size_t end, const FormatPatch& p);
  FormatPatch GetFormat(std::size_t begin, std::size_t end) const;
  const Format& NewFormat() const { return *newFormat_; }
  void SetNewFormat(const FormatPatch& p);
  void SetStyles(std::shared_ptr<const StyleRules> s);
  // The sheet's rules as they are now, for the next HTML given; what is shown stays.
  void RenewStyles(std::shared_ptr<const StyleRules> s) {
    if (styles_ && s) styles_ = std::move(s);
  }
  bool HasStyles() const { return styles_ != nullptr; }

  // The box in the field's space (pixels).
  double X() const { return x_; }
  double Y() const { return y_; }
  double Width() const;
  double Height() const;
  void SetWidth(double w);
  void SetHeight(double h);
  void SetAutoSize(AutoSize a, bool lazyBox = false);
  // Flash applies an auto-sized box lazily: when the stage is drawn, or
  // something needs the field's bounds. Until then the box set last stands
  // (a word wrap turned on meanwhile keeps its width).
  void Settle();
  // The whole box; a negative size reaches left of or above the origin.
  void SetBox(double x, double y, double w, double h);
  // Where scripts see the box start (_x and _y count from it): the corner
  // it was made with, moved as autoSize moves the box.
  double ScriptX() const { return cornerX_ + Look()->layout.boxX; }
  double ScriptY() const { return cornerY_; }

  // Options; setters re-lay the text out.
  struct Options {
    bool wordWrap = false, multiline = false, html = false, border = false, background = false;
    bool selectable = true, password = false, embedFonts = false, condenseWhite = false, input = false;
    std::uint32_t borderColor = 0, backgroundColor = 0xFFFFFF;
    AutoSize autoSize = AutoSize::kNone;
    int maxChars = 0;
    std::string variable;
    std::string antiAliasType = "normal", gridFitType = "pixel";
    double thickness = 0, sharpness = 0;
  };
  const Options& Opts() const { return opts_; }
  Options& EditOpts() {
    Refit();
    return opts_;
  }

  int Scroll() const { return scroll_; }
  void SetScroll(int s);
  double HScroll() const { return hscroll_; }
  void SetHScroll(double h);
  const Layout& Laid() const;
  std::shared_ptr<const TextLook> Look() const;

 private:
  void Touch() {
    look_.reset();
    unsettled_.reset();
  }
  // The layout in a box: the field's own, fitted to the text when `fit`.
  Layout LayOutIn(bool fit) const;
  // Content or options changed: an auto-sized box fits the text again.
  void Refit() {
    held_ = false;
    Touch();
  }
  // Setting the size of an auto-sized field holds the box as it is until
  // the text or the options change, as Flash does.
  void Hold();
  bool Fitting() const { return opts_.autoSize != AutoSize::kNone && !held_; }
  EmbeddedFonts Fonts() const;

  double x_ = 0, y_ = 0, width_ = 100, height_ = 100;
  double cornerX_ = 0, cornerY_ = 0;
  Options opts_;
  StyledText content_;
  std::string htmlSource_;  // kept for a field whose text came as HTML with styles
  FormatPtr newFormat_;
  std::shared_ptr<const StyleRules> styles_;
  int scroll_ = 1;
  std::size_t anchor_ = 0, caret_ = 0;
  double hscroll_ = 0;
  bool held_ = false;
  const MovieLibrary* lib_ = nullptr;
  std::uint16_t fontId_ = 0;  // the timeline field's font, found first
  mutable std::shared_ptr<const TextLook> look_;
  // ActionScript 3 fields measure against the box they have until the box
  // autoSize gives them is settled (read, drawn, focused).
  bool lazyBox_ = false;
  mutable std::shared_ptr<const Layout> unsettled_;
};

}  // namespace text
}  // namespace quarvel::player
