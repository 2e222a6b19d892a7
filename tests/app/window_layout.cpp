#include "app/window_layout.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTabBar>
#include <QTabWidget>

namespace quarvel::testing {
namespace {

QString Describe(const QWidget* w, const QString& text, QSize need, QSize have) {
  return QStringLiteral("%1 '%2': needs %3 x %4, has %5 x %6")
      .arg(w->objectName().isEmpty() ? QString::fromLatin1(w->metaObject()->className()) : w->objectName(), text)
      .arg(need.width())
      .arg(need.height())
      .arg(have.width())
      .arg(have.height());
}

// What a button or tab shows of its caption: "&&" is one "&", a single "&"
// marks the shortcut and is not drawn.
QString Shown(QString text) {
  text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
  text.remove(QLatin1Char('&'));
  text.replace(QLatin1Char('\x01'), QLatin1Char('&'));
  return text;
}

void Check(const QWidget* w, const QString& text, QSize need, QSize have, QStringList& out) {
  if (need.width() > have.width() || need.height() > have.height()) out << Describe(w, text, need, have);
}

void CheckShown(QWidget* window, QStringList& out) {
  for (QWidget* w : window->findChildren<QWidget*>()) {
    if (!w->isVisible()) continue;
    if (auto* label = qobject_cast<QLabel*>(w)) {
      if (label->text().isEmpty()) continue;
      const QRect room = label->contentsRect();
      if (label->wordWrap()) {
        Check(w, label->text(), QSize(0, label->heightForWidth(room.width())), room.size(), out);
      } else {
        const QFontMetrics fm(label->font());
        const QSize need = fm.size(0, label->text());
        Check(w, label->text(), need, room.size(), out);
      }
    } else if (auto* check = qobject_cast<QCheckBox*>(w)) {
      Check(w, check->text(), check->sizeHint(), check->size(), out);
    } else if (auto* option = qobject_cast<QRadioButton*>(w)) {
      Check(w, option->text(), option->sizeHint(), option->size(), out);
    } else if (auto* button = qobject_cast<QPushButton*>(w)) {
      // A push button's face keeps a few pixels of bevel on each side.
      const QFontMetrics fm(button->font());
      const QString text = Shown(button->text());
      Check(w, text, QSize(fm.horizontalAdvance(text) + 2, fm.ascent() + 2), button->size(), out);
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
      const QFontMetrics fm(combo->font());
      QStyleOptionComboBox opt;
      opt.initFrom(combo);
      for (int i = 0; i < combo->count(); ++i) {
        const QString text = combo->itemText(i);
        QSize content(fm.horizontalAdvance(text), fm.height());
        if (!combo->itemIcon(i).isNull()) content.rwidth() += combo->iconSize().width() + 4;
        const QSize need = combo->style()->sizeFromContents(QStyle::CT_ComboBox, &opt, content, combo);
        Check(w, text, QSize(need.width(), 0), combo->size(), out);
      }
    } else if (auto* spin = qobject_cast<QAbstractSpinBox*>(w)) {
      Check(w, spin->text(), QSize(spin->sizeHint().width(), 0), spin->size(), out);
    } else if (auto* tabs = qobject_cast<QTabBar*>(w)) {
      const QFontMetrics fm(tabs->font());
      const int space = tabs->style()->pixelMetric(QStyle::PM_TabBarTabHSpace, nullptr, tabs);
      for (int i = 0; i < tabs->count(); ++i) {
        const QString text = Shown(tabs->tabText(i));
        Check(w, text, QSize(fm.horizontalAdvance(text) + space, fm.height()), tabs->tabRect(i).size(), out);
      }
      const QRect last = tabs->tabRect(tabs->count() - 1);
      Check(w, QStringLiteral("(all tabs)"), QSize(last.right() + 1, 0), tabs->size(), out);
    }
  }
}

}  // namespace

QStringList CutTexts(QWidget* window) {
  QStringList out;
  const QList<QTabWidget*> tab_widgets = window->findChildren<QTabWidget*>();
  QList<int> shown;
  for (QTabWidget* t : tab_widgets) shown << t->currentIndex();
  // Every page of every tab widget in turn (one level of nesting is enough).
  for (QTabWidget* t : tab_widgets) {
    for (int i = 0; i < t->count(); ++i) {
      t->setCurrentIndex(i);
      QCoreApplication::processEvents();
      CheckShown(window, out);
    }
  }
  if (tab_widgets.isEmpty()) CheckShown(window, out);
  for (int i = 0; i < tab_widgets.size(); ++i) tab_widgets[i]->setCurrentIndex(shown[i]);
  out.removeDuplicates();
  return out;
}

}  // namespace quarvel::testing
