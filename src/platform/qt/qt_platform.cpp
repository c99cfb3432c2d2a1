// The windowing side of the platform on Qt 6 Widgets: start-up and end, the
// main window with its white background, fonts, controls, message boxes, the
// event source and the millisecond sleep.
//
// The keyer drives Qt itself: there is no QApplication::exec(). WaitEvent and
// PollEvent process Qt's events one batch at a time, and the controls report
// what happens to them by queueing their numbers, which those two calls hand
// out first.
#include <QAbstractEventDispatcher>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QCloseEvent>
#include <QFont>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStyleHints>
#include <QValidator>

#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/qt/qt_internal.h"
#include "platform/sdl/sound_sdl.h"
#include "platform/qt/qt_platform_testing.h"

// The icon is compiled into this static library; nothing refers to it by
// name, so it is registered by hand (outside any namespace, as Qt requires).
static void RegisterResources() { Q_INIT_RESOURCE(marlivox); }

namespace platform::qt {
namespace {

constexpr char kNumberProperty[] = "marlivox_number";
constexpr char kKindProperty[] = "marlivox_kind";

// The last stretch of a sleep is slept by the clock alone, so that serving
// the window can never make the sleep end late.
constexpr std::int64_t kSleepTailNs = 4'000'000;
// The very end of a sleep is spent watching the clock.
constexpr std::int64_t kSleepSpinNs = 200'000;
// How often a long sleep looks at the window: repaints and pings wait at most
// this long.
constexpr std::int64_t kServeSliceNs = 5'000'000;
// When the questions of the keyboard snapshot are sent before a sleep's end.
constexpr std::int64_t kSleepRequestNs = 3'000'000;

struct Control {
  QPointer<QWidget> widget;
  int number = 0;
  ControlKind kind = ControlKind::kLabel;
  QString text;  // as given; a button shows it with its ampersands doubled
  bool replaces = false;  // another control bore its number when it was made
  // A label that replaces another while a command holds the thread is made
  // at the thread's next pause; until then it has no widget.
  bool deferred = false;
  QRect geometry;
  std::optional<QString> accessible_name;
};

/* Module state */
struct State {
  QApplication* app = nullptr;
  bool own_app = false;  // made here, not by a test binary
  QPointer<QWidget> window;
  QPointer<QWidget> surface;
  QSize centred_for;  // the outer size the window was last centred by
  std::vector<QFont> fonts;  // FontHandle n is fonts[n - 1]
  std::map<ControlHandle, Control> controls;
  ControlHandle next_handle = 1;
  QPointer<QWidget> last_in_tab_order;
  std::deque<int> pending;  // control numbers not yet handed out
  bool drawing = false;
  // Painted at the thread's next pause: areas that controls left (window
  // coordinates) and the controls made since.
  QRegion uncovered;
  std::vector<QPointer<QWidget>> unpainted;
  // Labels to make, and the labels they replace, at the next pause.
  std::vector<ControlHandle> deferred;
  std::vector<QPointer<QWidget>> replaced;
};
State state;

QString FromUtf16(std::u16string_view text) {
  return QString(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size()));
}

std::u16string ToUtf16(const QString& text) { return text.toStdU16String(); }

void QueueControlEvent(int number) { state.pending.push_back(number); }

// Puts the window's frame (title bar included) in the middle of the primary
// screen; a window larger than the screen goes to its edge.
void Centre(QWidget* window) {
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect area = screen->geometry();
  const QSize outer = window->frameGeometry().size();
  const int x = (area.width() - std::min(area.width(), outer.width())) / 2;
  const int y = (area.height() - std::min(area.height(), outer.height())) / 2;
  state.centred_for = outer;
  window->move(area.x() + x, area.y() + y);
}

// The main window: its close request (close box, system menu, Alt+F4) is
// consumed and it stays open.
class KeyerWindow : public QWidget {
 public:
  KeyerWindow()
      : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                             Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {}

 protected:
  void closeEvent(QCloseEvent* event) override { event->ignore(); }

  // A window manager tells the size of its frame only once the window is
  // mapped; when it does, the window is centred again by its real outer size.
  void moveEvent(QMoveEvent* event) override {
    QWidget::moveEvent(event);
    if (frameGeometry().size() != state.centred_for) Centre(this);
  }
};

// Field 21: letters become upper case as they are typed or pasted, by Unicode
// case mapping (å gives Å, ß gives SS). The cursor stays behind the same
// character.
class UpperCaseValidator : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int& pos) const override {
    const QString upper = input.toUpper();
    if (upper != input) {
      pos = static_cast<int>(input.left(pos).toUpper().size());
      input = upper;
    }
    return Acceptable;
  }
};

// An input field raises a control event when it gains or loses the focus.
class FocusWatch : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)
      QueueControlEvent(watched->property(kNumberProperty).toInt());
    return false;
  }
};

FocusWatch* focus_watch = nullptr;

QIcon AppIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 64})
    icon.addFile(QStringLiteral(":/marlivox/icon_%1.png").arg(size), QSize(size, size));
  return icon;
}

// Changes made while no event loop runs are painted at the thread's next
// pause: the next sleep, wait or message box. During a transmission that is
// the sleep of the next tone or gap, which follows within microseconds; the
// painting (about half a millisecond for a replaced label) then happens while
// the tone sounds instead of adding to the silence before it.
void PaintSoon(QWidget* widget) {
  if (widget) state.unpainted.emplace_back(widget);
}

// What a control that goes away leaves uncovered.
void PaintUncovered(QWidget* widget) {
  if (!widget || !state.window) return;
  state.uncovered += QRect(widget->mapTo(state.window, QPoint(0, 0)), widget->size());
}

// A control that exists, with or without its widget yet.
Control* FindAny(ControlHandle handle) {
  auto it = state.controls.find(handle);
  return it == state.controls.end() ? nullptr : &it->second;
}

void Announce(QLabel* label);
QWidget* MakeLabel(ControlKind kind, const QString& text);

// Tags a new widget with its control's number and kind, and puts it in place.
void Place(QWidget* widget, const Control& control) {
  widget->setProperty(kNumberProperty, control.number);
  widget->setProperty(kKindProperty, static_cast<int>(control.kind));
  widget->setGeometry(control.geometry);
}

// At a pause: the labels that replaced others since the last one are made,
// shown and announced, and the labels they replaced go.
void MakeDeferredLabels() {
  for (ControlHandle handle : std::exchange(state.deferred, {})) {
    Control* c = FindAny(handle);
    if (!c || !c->deferred) continue;
    QWidget* widget = MakeLabel(c->kind, c->text);
    Place(widget, *c);
    if (c->accessible_name) widget->setAccessibleName(*c->accessible_name);
    widget->show();
    c->widget = widget;
    c->deferred = false;
    PaintSoon(widget);
    if (c->accessible_name) Announce(static_cast<QLabel*>(widget));
  }
  for (const QPointer<QWidget>& widget : std::exchange(state.replaced, {})) {
    if (!widget) continue;
    PaintUncovered(widget.data());
    delete widget.data();
  }
}

// Paints what changed since the last pause and sends it to the X server.
void PaintPending() {
  MakeDeferredLabels();
  const QRegion uncovered = std::exchange(state.uncovered, QRegion());
  const auto unpainted = std::exchange(state.unpainted, {});
  if (!state.window || !state.window->isVisible()) return;
  if (!uncovered.isEmpty()) state.window->repaint(uncovered);
  for (const QPointer<QWidget>& widget : unpainted)
    if (widget) widget->repaint();
  FlushToServer();
}

Control* Find(ControlHandle handle) {
  auto it = state.controls.find(handle);
  if (it == state.controls.end() || !it->second.widget) return nullptr;
  return &it->second;
}

// The keyer's labels, told apart from Qt's own for their accessible interface.
class KeyerLabel : public QLabel {
 public:
  using QLabel::QLabel;
};

// What a screen reader is told about a label. A caption or hint is known by
// its text. A display given a name (its purpose) has that name and shows its
// text as its value; the text is also its description, which is what the
// Linux accessibility bus carries for a label. Ampersands are read as written.
class LabelAccessible : public QAccessibleWidget {
 public:
  explicit LabelAccessible(QWidget* label) : QAccessibleWidget(label, QAccessible::StaticText) {}

  QAccessible::State state() const override {
    QAccessible::State s = QAccessibleWidget::state();
    s.readOnly = true;
    return s;
  }

  QString text(QAccessible::Text t) const override {
    const QString shown = static_cast<const QLabel*>(widget())->text();
    const QString name = widget()->accessibleName();
    switch (t) {
      case QAccessible::Name:
        return name.isEmpty() ? shown : name;
      case QAccessible::Value:
        return name.isEmpty() ? QString() : shown;
      case QAccessible::Description:
        if (!name.isEmpty() && widget()->accessibleDescription().isEmpty()) return shown;
        return QAccessibleWidget::text(t);
      default:
        return QAccessibleWidget::text(t);
    }
  }
};

QAccessibleInterface* LabelAccessibleFactory(const QString&, QObject* object) {
  if (auto* label = dynamic_cast<KeyerLabel*>(object)) return new LabelAccessible(label);
  return nullptr;
}

// A display re-created with new text is a new object to a screen reader: tell
// it the text changed, so that it is read out although the focus stays where
// it is.
void Announce(QLabel* label) {
  if (!QAccessible::isActive()) return;
  QAccessibleValueChangeEvent value(label, label->text());
  QAccessible::updateAccessibility(&value);
  QAccessibleEvent description(label, QAccessible::DescriptionChanged);
  QAccessible::updateAccessibility(&description);
}

QWidget* MakeLabel(ControlKind kind, const QString& text) {
  auto* label = new KeyerLabel(state.window);
  label->setTextFormat(Qt::PlainText);  // "&" is shown, not taken as a mnemonic
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setWordWrap(true);
  label->setFocusPolicy(Qt::NoFocus);
  // Labels stand on the face colour, over the white background.
  label->setAutoFillBackground(true);
  if (kind == ControlKind::kBorderedLabel) label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  label->setText(text);
  return label;
}

QWidget* MakeField(int number, ControlKind kind, const QString& text) {
  auto* field = new QLineEdit(state.window);
  field->setMaxLength(std::numeric_limits<int>::max());  // no length limit
  if (kind == ControlKind::kUpperCaseField) field->setValidator(new UpperCaseValidator(field));
  field->setText(text);
  field->installEventFilter(focus_watch);
  QObject::connect(field, &QLineEdit::textEdited, [number] { QueueControlEvent(number); });
  return field;
}

QWidget* MakeButton(int number, const QString& text) {
  QString shown = text;
  shown.replace(QLatin1Char('&'), QLatin1String("&&"));
  auto* button = new QPushButton(shown, state.window);
  button->setAutoDefault(false);  // Enter does not click it
  button->setDefault(false);
  QObject::connect(button, &QPushButton::clicked, [number] { QueueControlEvent(number); });
  return button;
}

}  // namespace

QWidget* MainWindow() { return state.window; }

}  // namespace platform::qt

namespace platform {

using qt::state;

// ---- Start-up and end -------------------------------------------------------

void InitAdapters() {
  sdl::PrepareSound();  // the environment is changed while no other thread runs
  if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance())) {
    state.app = existing;  // a test binary made it
  } else if (qt::CheckDisplay()) {
    // The keyer polls the X server for the keyboard, so it runs on X11 (under
    // Wayland through XWayland), and it draws plain pixels at any DPI.
    qputenv("QT_QPA_PLATFORM", "xcb");
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    qunsetenv("QT_SCALE_FACTOR");
    qunsetenv("QT_SCREEN_SCALE_FACTORS");
    static int argc = 1;
    static char name[] = "marlivox";
    static char* argv[] = {name, nullptr};
    state.app = new QApplication(argc, argv);
    state.own_app = true;
  }
  if (state.app) {
    RegisterResources();
    if (!qt::focus_watch) {
      qt::focus_watch = new qt::FocusWatch(state.app);
      QAccessible::installFactory(qt::LabelAccessibleFactory);
    }
    // A blinking text cursor would wake the idle keyer twice a second; the
    // cursor stands still instead.
    QGuiApplication::styleHints()->setCursorFlashTime(0);
    QApplication::setWindowIcon(qt::AppIcon());
  }
}

bool PrepareSurface() { return state.app != nullptr && qt::CheckDisplay(); }

void EndProcess() {
  sdl::ShutdownSound();
  CloseWindow();
  state.fonts.clear();
  if (state.own_app) {
    delete state.app;
    state.app = nullptr;
  }
  std::fflush(nullptr);
  std::exit(0);
}

// ---- Message boxes ----------------------------------------------------------

void ShowMessageBox(std::u16string_view title, std::u16string_view text) {
  if (!state.app) {
    // No display to show a box on.
    std::fprintf(stderr, "%s: %s\n", qt::FromUtf16(title).toUtf8().constData(),
                 qt::FromUtf16(text).toUtf8().constData());
    std::fflush(stderr);
    return;
  }
  qt::PaintPending();
  QMessageBox box(state.window);
  box.setWindowTitle(qt::FromUtf16(title));
  box.setTextFormat(Qt::PlainText);
  box.setText(qt::FromUtf16(text));
  box.setIcon(QMessageBox::NoIcon);
  box.setStandardButtons(QMessageBox::Ok);
  box.setDefaultButton(QMessageBox::Ok);
  box.exec();
}

// ---- Main window and its background -----------------------------------------

void OpenWindow(std::u16string_view title, int client_width, int client_height) {
  if (!state.app || state.window) return;
  auto* window = new qt::KeyerWindow;
  window->setWindowTitle(qt::FromUtf16(title));
  window->setWindowIcon(qt::AppIcon());
  window->setFixedSize(client_width, client_height);
  state.window = window;
  qt::Centre(window);
  window->show();
  window->activateWindow();
  qt::Centre(window);
  qt::FlushToServer();
}

void CloseWindow() {
  state.controls.clear();
  state.deferred.clear();
  state.replaced.clear();
  state.last_in_tab_order = nullptr;
  delete state.window.data();  // takes the surface and every control with it
  state.window = nullptr;
  state.surface = nullptr;
  state.drawing = false;
  qt::FlushToServer();
}

void OpenSurface(int x, int y, int width, int height) {
  if (!state.window || state.surface) return;
  auto* surface = new QWidget(state.window);
  surface->setGeometry(x, y, width, height);
  surface->setFocusPolicy(Qt::NoFocus);
  surface->setAutoFillBackground(true);
  surface->lower();  // under every control
  surface->show();
  state.surface = surface;
}

void ClearSurface(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  if (!state.surface) return;
  QPalette palette = state.surface->palette();
  palette.setColor(QPalette::Window, QColor(r, g, b));
  state.surface->setPalette(palette);
  qt::PaintSoon(state.surface);
}

// Nothing is drawn on the surface but its clear, so drawing needs no setup.
void BeginDraw() { state.drawing = true; }
void EndDraw() { state.drawing = false; }

void PresentSurface() {
  qt::PaintSoon(state.window);
  qt::PaintPending();
}

// ---- Fonts ------------------------------------------------------------------

FontHandle CreateFont(std::u16string_view face, int points, bool bold) {
  if (!state.app) return 0;
  QScreen* screen = QGuiApplication::primaryScreen();
  const double dpi = screen ? screen->logicalDotsPerInchY() : 96.0;
  QFont font(qt::FromUtf16(face));
  font.setPixelSize(std::max(1, static_cast<int>(std::lround(points * dpi / 72.0))));
  font.setBold(bold);
  state.fonts.push_back(font);
  return static_cast<FontHandle>(state.fonts.size());
}

// ---- Controls ---------------------------------------------------------------

ControlHandle CreateControl(int number, ControlKind kind, int x, int y, int width,
                            int height, std::u16string_view text) {
  if (!state.window) return 0;
  const QString content = qt::FromUtf16(text);
  bool replaces = false;
  for (const auto& [h, c] : state.controls)
    if ((c.widget || c.deferred) && c.number == number) replaces = true;

  // A display replaced while the window is up (the keying does it for every
  // character, just before the character's first tone) is made at the thread's
  // next pause, the sleep of that tone: making a label costs up to half a
  // millisecond after the thread has slept, time that would otherwise be
  // added to the silence before the tone.
  qt::Control control;
  control.number = number;
  control.kind = kind;
  control.text = content;
  control.replaces = replaces;
  control.geometry = QRect(x, y, width, height);
  const ControlHandle handle = state.next_handle++;
  const bool label = kind == ControlKind::kLabel || kind == ControlKind::kBorderedLabel;
  if (label && replaces && state.window->isVisible()) {
    control.deferred = true;
    state.controls[handle] = control;
    state.deferred.push_back(handle);
    return handle;
  }

  QWidget* widget = nullptr;
  switch (kind) {
    case ControlKind::kLabel:
    case ControlKind::kBorderedLabel:
      widget = qt::MakeLabel(kind, content);
      break;
    case ControlKind::kInputField:
    case ControlKind::kUpperCaseField:
      widget = qt::MakeField(number, kind, content);
      break;
    case ControlKind::kButton:
      widget = qt::MakeButton(number, content);
      break;
  }
  if (!widget) return 0;
  qt::Place(widget, control);

  // Fields and buttons follow those made before them in the Tab order; the
  // chain closes on itself, so Tab from the last goes to the first.
  if (widget->focusPolicy() != Qt::NoFocus) {
    if (state.last_in_tab_order) QWidget::setTabOrder(state.last_in_tab_order, widget);
    state.last_in_tab_order = widget;
  }

  widget->show();
  // The keying replaces labels while it holds the thread: painted at its next
  // pause, not only when the loop runs again.
  qt::PaintSoon(widget);

  control.widget = widget;
  state.controls[handle] = control;
  return handle;
}

void DestroyControl(ControlHandle control) {
  auto it = state.controls.find(control);
  if (it == state.controls.end()) return;
  QPointer<QWidget> widget = it->second.widget;
  state.controls.erase(it);
  if (!widget) return;  // a replacement never made
  if (!state.deferred.empty()) {
    // It stays on screen until its successor is made.
    state.replaced.push_back(widget);
    return;
  }
  qt::PaintUncovered(widget.data());  // what stood under it shows again
  delete widget.data();
}

void SetControlFont(ControlHandle control, FontHandle font) {
  qt::Control* c = qt::Find(control);
  if (!c || font <= 0 || font > static_cast<int>(state.fonts.size())) return;
  c->widget->setFont(state.fonts[font - 1]);
  qt::PaintSoon(c->widget);
}

void SetControlTextColor(ControlHandle control, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  qt::Control* c = qt::Find(control);
  if (!c) return;
  QPalette palette = c->widget->palette();
  const QColor colour(r, g, b);
  palette.setColor(QPalette::WindowText, colour);  // labels
  palette.setColor(QPalette::Text, colour);        // input fields
  palette.setColor(QPalette::ButtonText, colour);  // buttons
  c->widget->setPalette(palette);
  qt::PaintSoon(c->widget);
}

std::u16string ControlText(ControlHandle control) {
  qt::Control* c = qt::FindAny(control);
  if (!c) return {};
  if (c->deferred) return qt::ToUtf16(c->text);
  if (auto* field = qobject_cast<QLineEdit*>(c->widget.data())) return qt::ToUtf16(field->text());
  if (auto* label = qobject_cast<QLabel*>(c->widget.data())) return qt::ToUtf16(label->text());
  return qt::ToUtf16(c->text);
}

void SetAccessibleName(ControlHandle control, std::u16string_view name) {
  qt::Control* c = qt::FindAny(control);
  if (!c) return;
  if (c->deferred) {  // named, and announced, when it is made
    c->accessible_name = qt::FromUtf16(name);
    return;
  }
  c->widget->setAccessibleName(qt::FromUtf16(name));
  if (auto* label = qobject_cast<QLabel*>(c->widget.data()); label && c->replaces)
    qt::Announce(label);
}

// ---- Events -----------------------------------------------------------------

namespace {

std::optional<Event> TakePending() {
  if (state.pending.empty()) return std::nullopt;
  Event event{true, state.pending.front()};
  state.pending.pop_front();
  return event;
}

}  // namespace

Event WaitEvent() {
  if (auto event = TakePending()) return *event;
  // The wait may be long: let the sound output close its device once the
  // last tone has played out.
  sdl::EnterIdle();
  qt::PaintPending();
  if (state.app) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  return Event{};
}

std::optional<Event> PollEvent() {
  qt::PaintPending();
  if (auto event = TakePending()) return *event;
  QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
  if (!state.app || !dispatcher) return std::nullopt;
  if (!dispatcher->processEvents(QEventLoop::AllEvents)) return std::nullopt;
  return Event{};
}

// ---- Time -------------------------------------------------------------------

namespace {

std::int64_t NowNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

// Sleeps until the monotonic clock reaches `until_ns`; a few tens of
// microseconds late, as the kernel wakes sleepers.
void SleepRoughlyUntil(std::int64_t until_ns) {
  const timespec until{static_cast<time_t>(until_ns / 1'000'000'000),
                       static_cast<long>(until_ns % 1'000'000'000)};
  while (NowNs() < until_ns &&
         clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
  }
}

// Every element waits twice, so a sleep must end at its deadline, not some
// tens of microseconds after it: sleep until just before it, then watch the
// clock for the last stretch.
void SleepUntil(std::int64_t deadline_ns) {
  SleepRoughlyUntil(deadline_ns - qt::kSleepSpinNs);
  while (NowNs() < deadline_ns) {
  }
}

}  // namespace

void SleepMs(std::int32_t ms) {
  const std::int64_t deadline_ns = NowNs() + std::int64_t{std::max(ms, 0)} * 1'000'000;
  qt::PaintPending();
  if (ms <= 0) return;

  // Meanwhile the window is repainted and answers the window manager's ping,
  // but clicks and keys stay queued for the event loop. The waiting between
  // two looks at the window is done by the clock, never by a toolkit timer,
  // which may fire milliseconds late and would make the sleep end late.
  const std::int64_t serve_end_ns = deadline_ns - qt::kSleepTailNs;
  if (state.app && NowNs() < serve_end_ns) {
    while (NowNs() < serve_end_ns) {
      QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
      SleepRoughlyUntil(std::min(NowNs() + qt::kServeSliceNs, serve_end_ns));
    }
    // Qt takes the X events it held back only at its next wake-up, which
    // might not come before the user does something else: ask for one now.
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
      dispatcher->wakeUp();
  }

  // The keyboard snapshot for the read that follows the sleep (a dot reads it
  // around its tone) is asked for in the last milliseconds, off the rhythm:
  // the X server may be busy with our painting and take a while to answer,
  // and nothing here waits for it.
  if (state.window && ms * std::int64_t{1'000'000} > qt::kSleepRequestNs) {
    SleepUntil(deadline_ns - qt::kSleepRequestNs);
    qt::RequestKeyboard();
  }
  SleepUntil(deadline_ns);
}

// ---- For the window tests ----------------------------------------------------

namespace qt_testing {

QWidget* WidgetOf(ControlHandle control) {
  qt::MakeDeferredLabels();
  qt::Control* c = qt::Find(control);
  return c ? c->widget.data() : nullptr;
}

QWidget* MainWindowWidget() { return state.window; }

QWidget* SurfaceWidget() { return state.surface; }

QList<QWidget*> ControlsWithNumber(int number) {
  qt::MakeDeferredLabels();
  QList<QWidget*> found;
  for (auto& [handle, c] : state.controls)
    if (c.widget && c.number == number) found.append(c.widget);
  return found;
}

int NumberOf(const QWidget* widget) {
  const QVariant v = widget ? widget->property(qt::kNumberProperty) : QVariant();
  return v.isValid() ? v.toInt() : -1;
}

ControlKind KindOf(const QWidget* widget) {
  const QVariant v = widget ? widget->property(qt::kKindProperty) : QVariant();
  return v.isValid() ? static_cast<ControlKind>(v.toInt()) : ControlKind::kLabel;
}

QList<int> TakePendingEvents() {
  QList<int> numbers(state.pending.begin(), state.pending.end());
  state.pending.clear();
  return numbers;
}

}  // namespace qt_testing

}  // namespace platform
