// A capture on a transparent background in the window: the thumbnails and
// the frame preview show the clear pixels over a checkerboard, "Save to GIF"
// writes them as the transparent colour, read back by giflib, and "Save to
// AVI" says why it cannot.

#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QRadioButton>
#include <QTabWidget>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/window_fixture.h"
#include "gif/gif_pictures.h"
#include "gif/giflib_reader.h"

namespace quarvel::testing {
namespace {

namespace fs = std::filesystem;

// The scripted movie's bar, clear on a transparent canvas, starts at the
// left edge in the middle third; the top rows are opaque.
constexpr int kWidth = 100, kHeight = 80;
constexpr int kBarX = 2, kBarY = kHeight / 2, kOpaqueX = kWidth - 3, kOpaqueY = 3;

bool Checks(QRgb c) {
  const int r = qRed(c), g = qGreen(c), b = qBlue(c);
  return r == g && g == b && (r == 255 || r == 204);
}

class TransparentWindowTest : public WindowTest {
 protected:
  void TransparentCapture() {
    auto* colors = Find<QComboBox>("backgroundColor");
    colors->setCurrentIndex(colors->findText("Transparent"));
    movie.stop_at_end = true;
    OpenTinyMovie(kWidth, kHeight, 10, 30);
    Click("captureFrames");
    ASSERT_GE(window->CapturedFrameCount(), 5);
  }
};

TEST_F(TransparentWindowTest, ThumbnailsAndPreviewShowChecksWhereTheCaptureIsClear) {
  TransparentCapture();
  auto* list = Find<QListWidget>("thumbnails");
  ASSERT_GT(list->count(), 0);
  QListWidgetItem* last = list->item(list->count() - 1);
  const QImage icon = last->icon().pixmap(QSize(kWidth, kHeight)).toImage();
  ASSERT_FALSE(icon.isNull());
  const double sx = double(icon.width()) / kWidth, sy = double(icon.height()) / kHeight;
  EXPECT_TRUE(Checks(icon.pixel(int(kBarX * sx), int(kBarY * sy)))) << std::hex << icon.pixel(int(kBarX * sx), int(kBarY * sy));
  EXPECT_FALSE(Checks(icon.pixel(int(kOpaqueX * sx), int(kOpaqueY * sy))));

  list->setCurrentItem(last);
  const QImage preview = window->PreviewImage()->pixmap().toImage();
  ASSERT_FALSE(preview.isNull());
  // In device pixels on a scaled screen.
  const qreal r = window->PreviewImage()->pixmap().devicePixelRatio();
  const QRgb bar = preview.pixel(int(kBarX * r), int(kBarY * r));
  EXPECT_TRUE(Checks(bar)) << std::hex << bar;
  EXPECT_FALSE(Checks(preview.pixel(int(kOpaqueX * r), int(kOpaqueY * r))));
}

TEST_F(TransparentWindowTest, SaveToGifWritesTheClearPixelsAsTheTransparentColour) {
  TransparentCapture();
  Find<QTabWidget>("innerPages")->setCurrentIndex(2);
  for (const char* mode : {"bestQuality", "smallerSize"}) {
    SCOPED_TRACE(mode);
    if (auto* button = window->findChild<QRadioButton*>(QString::fromLatin1(mode))) button->setChecked(true);
    const fs::path out = Home() / (std::string(mode) + ".gif");
    prompts.save_answers.push_back(QString::fromStdString(out.string()));
    Click("saveGif");
    std::ifstream in(out, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    ASSERT_FALSE(bytes.empty()) << prompts.messages.join("; ").toStdString();
    const auto decoded = gif::testing::DecodeWithGiflib(bytes);
    for (const auto& f : decoded.frames) {
      EXPECT_TRUE(f.transparent);
      EXPECT_EQ(f.disposal, 2);
    }
    const auto shown = gif::testing::ShownPictures(decoded);
    ASSERT_FALSE(shown.empty());
    const auto& end = shown.back().pixels;
    EXPECT_EQ(end[std::size_t(kBarY) * kWidth + kBarX], gif::testing::kBackground);
    EXPECT_NE(end[std::size_t(kOpaqueY) * kWidth + kOpaqueX], gif::testing::kBackground);
  }
}

TEST_F(TransparentWindowTest, SaveToAviIsRefusedWithTheWayOut) {
  TransparentCapture();
  const fs::path out = Home() / "clip.avi";
  prompts.save_answers.push_back(QString::fromStdString(out.string()));
  Click("saveAvi");
  ASSERT_EQ(prompts.messages.size(), 1);
  EXPECT_TRUE(prompts.messages.front().contains("transparent background")) << prompts.messages.front().toStdString();
  EXPECT_TRUE(prompts.messages.front().contains("GIF"));
  EXPECT_FALSE(fs::exists(out));
  EXPECT_FALSE(window->Busy());
}

}  // namespace
}  // namespace quarvel::testing
