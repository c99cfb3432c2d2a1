// The real main window on a private X server: every control as the app makes
// it, the window's own properties, Tab order, the upper-case field, label
// replacement painted while no event loop runs, message boxes, control events
// and the close request.
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <xcb/xcb.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>

#include "app/window.h"
#include "platform/platform.h"
#include "platform/qt/qt_platform_testing.h"
#include "settings/settings_model.h"

using platform::ControlKind;
namespace qt_testing = platform::qt_testing;

Q_DECLARE_METATYPE(platform::ControlKind)

namespace {

enum FontUse { kDefaultFont, kBannerFont, kHintFont };

QWidget* Only(int number) {
  const QList<QWidget*> found = qt_testing::ControlsWithNumber(number);
  return found.size() == 1 ? found.front() : nullptr;
}

QString TextOf(QWidget* w) {
  if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
  if (auto* field = qobject_cast<QLineEdit*>(w)) return field->text();
  if (auto* button = qobject_cast<QPushButton*>(w)) return button->text();
  return QStringLiteral("<not a control>");
}

// What the X server shows of a rectangle of the main window, read back from
// the screen (not rendered from the widgets).
QImage Screen(const QRect& area) {
  QWidget* window = qt_testing::MainWindowWidget();
  return QGuiApplication::primaryScreen()
      ->grabWindow(window->winId(), area.x(), area.y(), area.width(), area.height())
      .toImage()
      .convertToFormat(QImage::Format_RGB32);
}

// Pixels dark enough to be text.
int Ink(const QImage& image) {
  int dark = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (qGray(image.pixel(x, y)) < 128) ++dark;
  return dark;
}

bool AllOf(const QImage& image, QRgb colour) {
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if ((image.pixel(x, y) & 0xffffff) != (colour & 0xffffff)) return false;
  return true;
}

int Xdotool(const QStringList& args) { return QProcess::execute(QStringLiteral("xdotool"), args); }

// A round trip on our own X connection: whatever the server did before (for
// xdotool, say) has been sent to us when it returns.
void SyncWithServer() {
  auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
  xcb_connection_t* c = x11->connection();
  std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
}

// Types text key by key, as a keyboard with those letters would (QTest's own
// keyClicks takes Latin-1 only).
void Type(QWidget* w, const QString& text) {
  for (QChar ch : text) {
    const auto key = static_cast<Qt::Key>(ch.toUpper().unicode());
    QTest::sendKeyEvent(QTest::Click, w, key, QString(ch), Qt::NoModifier);
  }
}

QPoint OnScreen(QWidget* w) { return w->mapToGlobal(w->rect().center()); }

void ClickOnScreen(QWidget* w) {
  const QPoint p = OnScreen(w);
  QCOMPARE(Xdotool({"mousemove", QString::number(p.x()), QString::number(p.y()), "click", "1"}), 0);
}

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  QString old_cwd_;

  // The window as the keyer opens it: settings loaded (the defaults, written
  // on this first start), fonts, window and every control; in front.
  void OpenLoaded() {
    if (qt_testing::MainWindowWidget()) return;
    settings::LoadSettings();
    app::OpenMainWindow();
    app::CreateControls();
    QWidget* window = qt_testing::MainWindowWidget();
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
  }

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    old_cwd_ = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir_.path()));  // the settings file goes here
    platform::InitAdapters();
    QVERIFY(platform::PrepareSurface());
    QVERIFY(platform::PrepareInput());
    app::LoadFonts();
  }

  void cleanupTestCase() {
    app::CloseMainWindow();
    QDir::setCurrent(old_cwd_);
  }

  // Before LoadSettings the setting texts are empty, and so are the fields.
  void fieldsStartEmptyWithoutSettings() {
    app::OpenMainWindow();
    app::CreateControls();
    for (int number : {17, 19, 21, 23, 25, 27, 29}) {
      QWidget* field = Only(number);
      QVERIFY2(field, qPrintable(QString::number(number)));
      QCOMPARE(TextOf(field), QString());
    }
    app::CloseMainWindow();
    QVERIFY(!qt_testing::MainWindowWidget());
    QVERIFY(qt_testing::ControlsWithNumber(17).isEmpty());
  }

  void window() {
    OpenLoaded();
    QWidget* window = qt_testing::MainWindowWidget();

    QCOMPARE(window->windowTitle(), QStringLiteral("MARLIVOX ver. 024") + QString(90, u' '));
    QCOMPARE(window->size(), QSize(1280, 800));
    QCOMPARE(window->minimumSize(), QSize(1280, 800));
    QCOMPARE(window->maximumSize(), QSize(1280, 800));

    const Qt::WindowFlags flags = window->windowFlags();
    QVERIFY(flags & Qt::WindowTitleHint);
    QVERIFY(flags & Qt::WindowSystemMenuHint);
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));

    // Centred by the outer size, integer division.
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QRect outer = window->frameGeometry();
    QCOMPARE(outer.x(), screen.x() + (screen.width() - std::min(screen.width(), outer.width())) / 2);
    QCOMPARE(outer.y(), screen.y() + (screen.height() - std::min(screen.height(), outer.height())) / 2);
    if (outer.size() == QSize(1280, 800) && screen.size() == QSize(1920, 1080))
      QCOMPARE(outer.topLeft(), QPoint(320, 140));  // Xvfb without a window manager

    // The icon in its four sizes, with a transparent corner.
    const QIcon icon = window->windowIcon();
    for (int size : {16, 24, 32, 64}) {
      QVERIFY2(icon.availableSizes().contains(QSize(size, size)), qPrintable(QString::number(size)));
      const QImage image = icon.pixmap(size, size).toImage();
      QCOMPARE(image.size(), QSize(size, size));
      QVERIFY(image.hasAlphaChannel());
      QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
      QCOMPARE(qAlpha(image.pixel(size / 2, size / 2)), 255);
    }

    // The white background covers the client area, under the controls.
    QWidget* surface = qt_testing::SurfaceWidget();
    QVERIFY(surface);
    QCOMPARE(surface->geometry(), QRect(0, 0, 1280, 800));
    QCOMPARE(surface->palette().color(QPalette::Window), QColor(255, 255, 255));
    QVERIFY(AllOf(Screen(QRect(0, 0, 100, 20)), qRgb(255, 255, 255)));
    QVERIFY(AllOf(Screen(QRect(1200, 700, 80, 100)), qRgb(255, 255, 255)));
  }

  void controls_data() {
    QTest::addColumn<int>("number");
    QTest::addColumn<ControlKind>("kind");
    QTest::addColumn<QRect>("place");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("font");
    QTest::addColumn<bool>("grey");

    const auto L = ControlKind::kLabel, B = ControlKind::kBorderedLabel,
               F = ControlKind::kInputField, U = ControlKind::kUpperCaseField,
               P = ControlKind::kButton;
    struct Row {
      int number;
      ControlKind kind;
      int x, y, w, h;
      const char16_t* text;
      int font;
      bool grey;
    };
    // The texts of the fields are the settings' defaults, written by the first start.
    const Row rows[] = {
        {9, L, 400, 30, 600, 30, u"MARLIVOX by VALMERA", kBannerFont, true},
        {14, L, 120, 140, 600, 20, u"Fyll i alla fält med relevant information!", kHintFont, true},
        {15, L, 120, 170, 600, 20, u"Avbryt ej färdig utsändning med Escape!", kHintFont, true},
        {16, L, 120, 280, 200, 20, u"Ton i Hertz", kDefaultFont, false},
        {17, F, 320, 280, 50, 20, u"800", kDefaultFont, false},
        {18, L, 120, 310, 200, 20, u"Teckenlängd i mS", kDefaultFont, false},
        {19, F, 320, 310, 50, 20, u"50", kDefaultFont, false},
        {20, L, 120, 340, 200, 20, u"Text du vill sända", kDefaultFont, false},
        {21, U, 320, 340, 800, 20, u"TEST DE QZ0XYZ =", kDefaultFont, false},
        {11, L, 120, 370, 200, 20, u"Aktuell text som sänds just nu", kDefaultFont, false},
        {10, B, 320, 370, 800, 20, u"", kDefaultFont, false},
        {22, L, 120, 400, 200, 20, u"Ev. bärvåg i mS före texten", kDefaultFont, false},
        {23, F, 320, 400, 50, 20, u"4000", kDefaultFont, false},
        {24, L, 120, 430, 200, 20, u"Pause i mS mellan bärvåg och text", kDefaultFont, false},
        {25, F, 320, 430, 50, 20, u"1000", kDefaultFont, false},
        {26, L, 120, 460, 200, 20, u"Pause i mS mellan sändningarna", kDefaultFont, false},
        {27, F, 320, 460, 50, 20, u"2000", kDefaultFont, false},
        {28, L, 120, 490, 200, 20, u"Antal utsändningar du vill köra", kDefaultFont, false},
        {29, F, 320, 490, 50, 20, u"73", kDefaultFont, false},
        {12, L, 120, 520, 200, 20, u"Antal körda utsändningar ", kDefaultFont, false},
        {13, B, 320, 520, 50, 20, u"", kDefaultFont, false},
        {8, L, 420, 520, 200, 20, u"", kDefaultFont, false},
        {36, P, 120, 600, 100, 20, u"Spara", kDefaultFont, false},
        {37, P, 250, 600, 100, 20, u"Test", kDefaultFont, false},
        {38, P, 380, 600, 100, 20, u"Kör", kDefaultFont, false},
        {39, P, 510, 600, 100, 20, u"Avsluta", kDefaultFont, false},
    };
    for (const Row& r : rows)
      QTest::addRow("%d", r.number) << r.number << r.kind << QRect(r.x, r.y, r.w, r.h)
                                    << QString::fromUtf16(r.text) << r.font << r.grey;
  }

  void controls() {
    QFETCH(int, number);
    QFETCH(ControlKind, kind);
    QFETCH(QRect, place);
    QFETCH(QString, text);
    QFETCH(int, font);
    QFETCH(bool, grey);
    OpenLoaded();

    QWidget* w = Only(number);
    QVERIFY2(w, "exactly one control bears the number");
    QCOMPARE(w->parentWidget(), qt_testing::MainWindowWidget());
    QCOMPARE(qt_testing::KindOf(w), kind);
    QCOMPARE(w->geometry(), place);
    QVERIFY(w->isVisible());
    QCOMPARE(TextOf(w), text);

    const double dpi = QGuiApplication::primaryScreen()->logicalDotsPerInchY();
    if (font == kDefaultFont) {
      QCOMPARE(w->font(), QApplication::font(w));
    } else {
      const int points = font == kBannerFont ? 16 : 10;
      QCOMPARE(w->font().family(), QStringLiteral("Verdana"));
      QCOMPARE(w->font().pixelSize(), static_cast<int>(std::lround(points * dpi / 72)));
      if (dpi == 96) QCOMPARE(w->font().pixelSize(), font == kBannerFont ? 21 : 13);
      QVERIFY(w->font().bold());
    }
    const QColor text_colour = w->palette().color(QPalette::WindowText);
    QCOMPARE(text_colour, grey ? QColor(100, 100, 100)
                               : QApplication::palette(w).color(QPalette::WindowText));

    switch (kind) {
      case ControlKind::kLabel:
      case ControlKind::kBorderedLabel: {
        auto* label = qobject_cast<QLabel*>(w);
        QVERIFY(label);
        QCOMPARE(label->textFormat(), Qt::PlainText);
        QCOMPARE(label->alignment(), Qt::AlignLeft | Qt::AlignTop);
        QVERIFY(label->wordWrap());
        QCOMPARE(label->focusPolicy(), Qt::NoFocus);
        // On the face colour, not on the white under it.
        QVERIFY(label->autoFillBackground());
        QCOMPARE(label->palette().color(QPalette::Window),
                 QApplication::palette().color(QPalette::Window));
        const bool bordered = kind == ControlKind::kBorderedLabel;
        QCOMPARE(label->frameShape(), bordered ? QFrame::Panel : QFrame::NoFrame);
        if (bordered) QCOMPARE(label->frameShadow(), QFrame::Sunken);
        break;
      }
      case ControlKind::kInputField:
      case ControlKind::kUpperCaseField: {
        auto* field = qobject_cast<QLineEdit*>(w);
        QVERIFY(field);
        QVERIFY(field->maxLength() > 1'000'000);  // no limit, not Qt's 32767
        QVERIFY(field->hasFrame());
        QCOMPARE(field->focusPolicy(), Qt::StrongFocus);
        QCOMPARE(field->validator() != nullptr, kind == ControlKind::kUpperCaseField);
        break;
      }
      case ControlKind::kButton: {
        auto* button = qobject_cast<QPushButton*>(w);
        QVERIFY(button);
        QVERIFY(!button->autoDefault());
        QVERIFY(!button->isDefault());
        QVERIFY(button->focusPolicy() & Qt::TabFocus);
        break;
      }
    }
  }

  void tabOrder() {
    OpenLoaded();
    const QList<int> forward = {19, 21, 23, 25, 27, 29, 36, 37, 38, 39, 17};
    const QList<int> backward = {39, 38, 37, 36, 29, 27, 25, 23, 21, 19, 17};
    for (auto [key, expected] : {std::pair{Qt::Key_Tab, forward}, std::pair{Qt::Key_Backtab, backward}}) {
      Only(17)->setFocus(Qt::OtherFocusReason);
      QCOMPARE(QApplication::focusWidget(), Only(17));
      QList<int> seen;
      for (int i = 0; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), key);
        seen.append(qt_testing::NumberOf(QApplication::focusWidget()));
      }
      QCOMPARE(seen, expected);
    }
    // The two steps the keyer's users meet most.
    Only(29)->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(qt_testing::NumberOf(QApplication::focusWidget()), 36);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ShiftModifier);
    QCOMPARE(qt_testing::NumberOf(QApplication::focusWidget()), 29);
  }

  void upperCaseField_data() {
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::newRow("latin") << 21 << "test de sm0abc" << "TEST DE SM0ABC";
    QTest::newRow("swedish") << 21 << QString::fromUtf16(u"åäö ÅÄÖ") << QString::fromUtf16(u"ÅÄÖ ÅÄÖ");
    QTest::newRow("other scripts") << 21 << QString::fromUtf16(u"é ü ω") << QString::fromUtf16(u"É Ü Ω");
    QTest::newRow("signs stay") << 21 << "1&2 = ?/" << "1&2 = ?/";
    QTest::newRow("plain field") << 17 << QString::fromUtf16(u"abc å") << QString::fromUtf16(u"abc å");
  }

  void upperCaseField() {
    QFETCH(int, number);
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    OpenLoaded();
    auto* field = qobject_cast<QLineEdit*>(Only(number));
    QVERIFY(field);
    const QString before = field->text();

    field->setFocus(Qt::OtherFocusReason);
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Delete);
    Type(field, typed);
    QCOMPARE(field->text(), shown);

    // Pasted text too.
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Delete);
    QGuiApplication::clipboard()->setText(typed);
    QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(field->text(), shown);

    field->setText(before);
  }

  void upperCaseKeepsTheCursor() {
    OpenLoaded();
    auto* field = qobject_cast<QLineEdit*>(Only(21));
    const QString before = field->text();
    field->setFocus(Qt::OtherFocusReason);
    field->setText("AB");
    field->setCursorPosition(1);
    Type(field, "xy");
    QCOMPARE(field->text(), QStringLiteral("AXYB"));
    QCOMPARE(field->cursorPosition(), 3);
    // Ctrl+A selects all.
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(field->selectedText(), QStringLiteral("AXYB"));
    field->setText(before);
  }

  void fieldHasNoLengthLimit() {
    OpenLoaded();
    auto* field = qobject_cast<QLineEdit*>(Only(21));
    const QString before = field->text();
    const QString long_text(40000, u'E');
    field->setFocus(Qt::OtherFocusReason);
    field->selectAll();
    QGuiApplication::clipboard()->setText(long_text);
    QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(field->text().size(), long_text.size());
    QCOMPARE(QString::fromStdU16String(app::ReadInputField(21)), long_text);
    field->setText(before);
  }

  void ampersandShownLiterally() {
    OpenLoaded();
    app::ShowStatus(520, u"&");
    auto* label = qobject_cast<QLabel*>(Only(8));
    QVERIFY(label);
    QCOMPARE(label->text(), QStringLiteral("&"));
    platform::SleepMs(0);  // the thread's next pause paints it
    // A mnemonic mark alone would draw nothing.
    QVERIFY(Ink(Screen(label->geometry())) > 0);
  }

  void labelReplacement_data() {
    QTest::addColumn<int>("operation");  // 0 ShowStatus, 1 ShowSentText, 2 ShowCount
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("number");
    QTest::addColumn<ControlKind>("kind");
    QTest::addColumn<QRect>("place");
    QTest::newRow("status 400") << 0 << 400 << QString::fromUtf16(u"Bärvåg") << 8
                                << ControlKind::kLabel << QRect(390, 400, 200, 20);
    QTest::newRow("status 490 empty") << 0 << 490 << QString() << 8 << ControlKind::kLabel
                                      << QRect(390, 490, 200, 20);
    QTest::newRow("status 520") << 0 << 520 << "Klart" << 8 << ControlKind::kLabel
                                << QRect(390, 520, 200, 20);
    QTest::newRow("sent text") << 1 << 0 << " TEST DE" << 10 << ControlKind::kBorderedLabel
                               << QRect(320, 370, 800, 20);
    QTest::newRow("sent text empty") << 1 << 0 << QString() << 10 << ControlKind::kBorderedLabel
                                     << QRect(320, 370, 800, 20);
    QTest::newRow("count") << 2 << 0 << "12" << 13 << ControlKind::kBorderedLabel
                           << QRect(320, 520, 50, 20);
  }

  void labelReplacement() {
    QFETCH(int, operation);
    QFETCH(int, row);
    QFETCH(QString, text);
    QFETCH(int, number);
    QFETCH(ControlKind, kind);
    QFETCH(QRect, place);
    OpenLoaded();
    QWidget* old = Only(number);
    QVERIFY(old);
    QPointer<QWidget> old_alive = old;

    const std::u16string shown = text.toStdU16String();
    if (operation == 0) app::ShowStatus(row, shown);
    if (operation == 1) app::ShowSentText(shown);
    if (operation == 2) app::ShowCount(shown);

    // While a command holds the thread the new label is made, and the old one
    // goes, at the thread's next pause; looking at the controls is one.
    QWidget* fresh = Only(number);
    QVERIFY2(fresh, "exactly one control bears the number");
    QVERIFY(!old_alive);
    QCOMPARE(qt_testing::KindOf(fresh), kind);
    QCOMPARE(fresh->geometry(), place);
    QCOMPARE(TextOf(fresh), text);
    QVERIFY(fresh->isVisible());
    QCOMPARE(fresh->focusPolicy(), Qt::NoFocus);
    QCOMPARE(fresh->font(), QApplication::font(fresh));
  }

  // The keying replaces labels while it holds the thread; the screen must
  // show each one by the thread's next pause (the sleep of the tone or gap
  // that follows), not only when the event loop runs again. Nothing here lets
  // Qt process events: a sleep of 0 ms is the shortest pause there is.
  void replacedLabelsReachTheScreenAtTheNextPause() {
    OpenLoaded();
    const QRect sent_inside(323, 373, 794, 14);
    app::ShowSentText(u" TEST");
    platform::SleepMs(0);
    QVERIFY(Ink(Screen(sent_inside)) > 0);
    app::ShowSentText(u"");
    platform::SleepMs(0);
    QCOMPARE(Ink(Screen(sent_inside)), 0);

    const QRect row_400(390, 400, 200, 20), row_430(390, 430, 200, 20);
    app::ShowStatus(400, u"Bärvåg");
    platform::SleepMs(1);
    QVERIFY(Ink(Screen(row_400)) > 0);
    app::ShowStatus(430, u"Paus mellan bärvåg och text");
    platform::SleepMs(0);
    QVERIFY(Ink(Screen(row_430)) > 0);
    // The old row is gone from the screen: the white background again.
    QVERIFY(AllOf(Screen(row_400), qRgb(255, 255, 255)));
  }

  void messageBox() {
    OpenLoaded();
    QString title, text, problem;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) {
        problem = "no modal message box";
        return;
      }
      title = box->windowTitle();
      text = box->text();
      if (box->buttons().size() != 1) problem = "not one button";
      else if (box->standardButtons() != QMessageBox::Ok) problem = "not OK";
      else if (box->icon() != QMessageBox::NoIcon) problem = "has an icon";
      else if (box->parentWidget() != qt_testing::MainWindowWidget()) problem = "not owned by the window";
      else if (!box->isModal()) problem = "not modal";
      box->button(QMessageBox::Ok)->click();
    });
    platform::ShowMessageBox(u"Åtgärd:", u"Data sparade i filen marlivox.cnf & mer");
    QCOMPARE(problem, QString());
    QCOMPARE(title, QString::fromUtf16(u"Åtgärd:"));
    QCOMPARE(text, QStringLiteral("Data sparade i filen marlivox.cnf & mer"));
  }

  void controlEvents() {
    OpenLoaded();
    qt_testing::TakePendingEvents();
    // Focus moves from one field to the next, an edit, a click on a button, a
    // click on a label (nothing).
    Only(17)->setFocus(Qt::OtherFocusReason);
    qt_testing::TakePendingEvents();
    Only(19)->setFocus(Qt::TabFocusReason);
    QTest::keyClick(Only(19), Qt::Key_5);
    QTest::mouseClick(Only(16), Qt::LeftButton);
    QTest::mouseClick(Only(37), Qt::LeftButton);
    QList<int> numbers;
    while (auto event = platform::PollEvent())
      if (event->is_control) numbers.append(event->number);
    QCOMPARE(numbers, (QList<int>{17, 19, 19, 19, 37}));  // out, in, edit, out (button takes focus), click
    QTest::keyClick(Only(19), Qt::Key_Backspace);
    qt_testing::TakePendingEvents();
  }

  // A real click through the X server comes out of WaitEvent.
  void waitEventDeliversARealClick() {
    OpenLoaded();
    qt_testing::TakePendingEvents();
    QTimer wake;  // so that a lost click fails the test instead of hanging it
    wake.start(100);
    ClickOnScreen(Only(36));
    QElapsedTimer clock;
    clock.start();
    std::optional<int> clicked;
    while (!clicked && clock.elapsed() < 5000) {
      platform::Event event = platform::WaitEvent();
      if (event.is_control && event.number == 36) clicked = 36;
    }
    QCOMPARE(clicked, std::optional<int>(36));
  }

  // During a sleep the window is served, but a click waits for the loop.
  void sleepKeepsUserInputQueued() {
    OpenLoaded();
    qt_testing::TakePendingEvents();
    ClickOnScreen(Only(38));
    SyncWithServer();
    const std::clock_t cpu_before = std::clock();
    platform::SleepMs(300);
    const double cpu_ms = 1000.0 * (std::clock() - cpu_before) / CLOCKS_PER_SEC;
    qInfo("processor time during a 300 ms sleep with a click waiting: %.1f ms", cpu_ms);
    QCOMPARE(qt_testing::TakePendingEvents(), QList<int>());

    QElapsedTimer clock;
    clock.start();
    std::optional<int> clicked;
    while (!clicked && clock.elapsed() < 5000) {
      if (auto event = platform::PollEvent()) {
        if (event->is_control && event->number == 38) clicked = 38;
      } else {
        QThread::msleep(5);
      }
    }
    QCOMPARE(clicked, std::optional<int>(38));

    platform::SleepMs(0);  // return at once, with nothing processed
    platform::SleepMs(-5);
  }

  // During a sleep the window is repainted when uncovered and answers the
  // window manager's ping, so it never looks dead during a long transmission.
  void sleepServesTheWindow() {
    OpenLoaded();
    QWidget* window = qt_testing::MainWindowWidget();
    const QRect area(0, 0, 1280, 120);
    const QImage before = Screen(area);
    QVERIFY(Ink(before) > 0);  // the banner

    // A second client: it covers the top of the window with a black window,
    // and listens on the root window for the answer to its ping.
    xcb_connection_t* other = xcb_connect(nullptr, nullptr);
    QVERIFY(!xcb_connection_has_error(other));
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(other)).data;
    auto atom = [other](const char* name) {
      xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
          other, xcb_intern_atom(other, 0, std::strlen(name), name), nullptr);
      xcb_atom_t a = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
      std::free(reply);
      return a;
    };
    auto sync = [other] {
      std::free(xcb_get_input_focus_reply(other, xcb_get_input_focus(other), nullptr));
    };
    const uint32_t root_mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;  // where the answer goes
    xcb_change_window_attributes(other, screen->root, XCB_CW_EVENT_MASK, &root_mask);

    const QPoint top_left = window->mapToGlobal(QPoint(0, 0));
    const xcb_window_t cover = xcb_generate_id(other);
    const uint32_t values[] = {screen->black_pixel, 1};
    xcb_create_window(other, XCB_COPY_FROM_PARENT, cover, screen->root,
                      static_cast<int16_t>(top_left.x()), static_cast<int16_t>(top_left.y()),
                      1280, 120, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
    xcb_map_window(other, cover);
    sync();
    xcb_clear_area(other, 0, cover, 0, 0, 0, 0);
    sync();
    xcb_unmap_window(other, cover);

    const uint32_t stamp = 4242;
    xcb_client_message_event_t ping{};
    ping.response_type = XCB_CLIENT_MESSAGE;
    ping.format = 32;
    ping.window = static_cast<xcb_window_t>(window->winId());
    ping.type = atom("WM_PROTOCOLS");
    ping.data.data32[0] = atom("_NET_WM_PING");
    ping.data.data32[1] = stamp;
    ping.data.data32[2] = ping.window;
    xcb_send_event(other, 0, ping.window, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&ping));
    sync();  // uncovered and pinged before the sleep starts

    platform::SleepMs(300);

    QCOMPARE(Screen(area), before);  // repainted, not left black
    sync();
    bool answered = false;
    while (xcb_generic_event_t* event = xcb_poll_for_event(other)) {
      if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
        auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
        if (message->window == screen->root && message->data.data32[0] == ping.data.data32[0] &&
            message->data.data32[1] == stamp)
          answered = true;
      }
      std::free(event);
    }
    xcb_destroy_window(other, cover);
    xcb_disconnect(other);
    QVERIFY(answered);
  }

  void closeRequestIsConsumed() {
    OpenLoaded();
    QWidget* window = qt_testing::MainWindowWidget();
    QVERIFY(!window->close());
    QVERIFY(window->isVisible());

    // The window manager's request: WM_DELETE_WINDOW in a WM_PROTOCOLS message.
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11->connection();
    auto atom = [c](const char* name) {
      xcb_intern_atom_reply_t* reply =
          xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::strlen(name), name), nullptr);
      xcb_atom_t a = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
      std::free(reply);
      return a;
    };
    struct CloseSeen : QObject {
      bool seen = false;
      bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Close) seen = true;
        return false;
      }
    } watch;
    window->installEventFilter(&watch);
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = static_cast<xcb_window_t>(window->winId());
    message.type = atom("WM_PROTOCOLS");
    message.data.data32[0] = atom("WM_DELETE_WINDOW");
    message.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(c, 0, message.window, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(c);
    QTRY_VERIFY(watch.seen);
    window->removeEventFilter(&watch);
    QVERIFY(window->isVisible());
    QCOMPARE(qt_testing::MainWindowWidget(), window);
  }

  void keyboardSnapshot() {
    OpenLoaded();
    QWidget* window = qt_testing::MainWindowWidget();
    QCOMPARE(platform::EscapeKey(), 9);  // Escape's keycode on the X server's PC keyboard
    QVERIFY(platform::BindKeyboard());

    platform::KeyStates down{};
    QVERIFY(platform::ReadKeyboard(down));
    QVERIFY(!down[platform::EscapeKey()]);

    QCOMPARE(Xdotool({"keydown", "Escape"}), 0);
    SyncWithServer();
    QVERIFY(platform::ReadKeyboard(down));
    QVERIFY(down[platform::EscapeKey()]);
    QCOMPARE(Xdotool({"keyup", "Escape"}), 0);
    SyncWithServer();
    QVERIFY(platform::ReadKeyboard(down));
    QVERIFY(!down[platform::EscapeKey()]);

    // Another window in front: no reading, and `down` stays as it was.
    QWidget other;
    other.setWindowTitle("other");
    other.resize(200, 100);
    other.show();
    QVERIFY(QTest::qWaitForWindowExposed(&other));
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    down.fill(true);
    QVERIFY(!platform::ReadKeyboard(down));
    QVERIFY(down[0] && down[255]);

    // Back in front, readable again.
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    QVERIFY(platform::ReadKeyboard(down));
    QVERIFY(!down[platform::EscapeKey()]);
  }

  // The last test: the window goes and so do its controls.
  void closeWindow() {
    OpenLoaded();
    QPointer<QWidget> window = qt_testing::MainWindowWidget();
    app::CloseMainWindow();
    QVERIFY(!window);
    QVERIFY(!qt_testing::MainWindowWidget());
    for (int number : {8, 9, 17, 36})
      QVERIFY(qt_testing::ControlsWithNumber(number).isEmpty());
    platform::KeyStates down{};
    QVERIFY(!platform::ReadKeyboard(down));
  }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
