// The window as a screen reader meets it, through Qt's accessibility
// interface: every control's name and role, the displays announcing their new
// text although each change makes a new label, the whole window worked from
// the keyboard, and no wake-up while the keyer waits with a field focused.
#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/window.h"
#include "platform/platform.h"
#include "platform/qt/qt_platform_testing.h"
#include "settings/settings_model.h"

namespace qt_testing = platform::qt_testing;

namespace {

QWidget* Only(int number) {
  const QList<QWidget*> found = qt_testing::ControlsWithNumber(number);
  return found.size() == 1 ? found.front() : nullptr;
}

QAccessibleInterface* Accessible(QWidget* w) {
  return w ? QAccessible::queryAccessibleInterface(w) : nullptr;
}

// What the update handler heard.
struct Heard {
  QAccessible::Event type;
  QPointer<QObject> object;
  QString value;  // for a value change
};
std::vector<Heard> heard;

void Listen(QAccessibleEvent* event) {
  Heard h{event->type(), event->object(), {}};
  if (event->type() == QAccessible::ValueChanged)
    h.value = static_cast<QAccessibleValueChangeEvent*>(event)->value().toString();
  heard.push_back(h);
}

// Counts the timer events delivered to anything but one timer of the test's
// own: each is a wake-up of the process.
class TimerCount : public QObject {
 public:
  QObject* ours = nullptr;
  int others = 0;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Timer && watched != ours) ++others;
    return false;
  }
};

}  // namespace

class AccessibilityTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  QString old_cwd_;

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    old_cwd_ = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir_.path()));  // the settings file goes here
    platform::InitAdapters();
    QVERIFY(platform::PrepareSurface());
    QVERIFY(platform::PrepareInput());
    QAccessible::installUpdateHandler(Listen);
    QTRY_VERIFY(QAccessible::isActive());
    app::LoadFonts();
    settings::LoadSettings();
    app::OpenMainWindow();
    app::CreateControls();
    QWidget* window = qt_testing::MainWindowWidget();
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
  }

  void cleanupTestCase() {
    QAccessible::installUpdateHandler(nullptr);
    app::CloseMainWindow();
    QDir::setCurrent(old_cwd_);
  }

  void namesAndRoles_data() {
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("role");
    QTest::addColumn<bool>("focusable");
    const int kText = QAccessible::StaticText, kEdit = QAccessible::EditableText,
              kButton = QAccessible::Button;
    const struct {
      int number;
      const char16_t* name;
      int role;
    } rows[] = {
        {9, u"MARLIVOX by VALMERA", kText},
        {14, u"Fyll i alla fält med relevant information!", kText},
        {15, u"Avbryt ej färdig utsändning med Escape!", kText},
        {16, u"Ton i Hertz", kText},
        {17, u"Ton i Hertz", kEdit},
        {18, u"Teckenlängd i mS", kText},
        {19, u"Teckenlängd i mS", kEdit},
        {20, u"Text du vill sända", kText},
        {21, u"Text du vill sända", kEdit},
        {11, u"Aktuell text som sänds just nu", kText},
        {10, u"Aktuell text som sänds just nu", kText},
        {22, u"Ev. bärvåg i mS före texten", kText},
        {23, u"Ev. bärvåg i mS före texten", kEdit},
        {24, u"Pause i mS mellan bärvåg och text", kText},
        {25, u"Pause i mS mellan bärvåg och text", kEdit},
        {26, u"Pause i mS mellan sändningarna", kText},
        {27, u"Pause i mS mellan sändningarna", kEdit},
        {28, u"Antal utsändningar du vill köra", kText},
        {29, u"Antal utsändningar du vill köra", kEdit},
        {12, u"Antal körda utsändningar ", kText},
        {13, u"Antal körda utsändningar", kText},
        {8, u"Status", kText},
        {36, u"Spara", kButton},
        {37, u"Test", kButton},
        {38, u"Kör", kButton},
        {39, u"Avsluta", kButton},
    };
    for (const auto& r : rows)
      QTest::addRow("%d", r.number) << r.number << QString::fromUtf16(r.name) << r.role
                                    << (r.role != kText);
  }

  void namesAndRoles() {
    QFETCH(int, number);
    QFETCH(QString, name);
    QFETCH(int, role);
    QFETCH(bool, focusable);
    QWidget* w = Only(number);
    QVERIFY(w);
    QAccessibleInterface* a = Accessible(w);
    QVERIFY(a && a->isValid());
    QCOMPARE(a->text(QAccessible::Name), name);
    QCOMPARE(static_cast<int>(a->role()), role);
    QCOMPARE(bool(a->state().focusable), focusable);
    // Reachable from the window, as a screen reader walks it.
    QAccessibleInterface* window = Accessible(qt_testing::MainWindowWidget());
    QVERIFY(window);
    QVERIFY(window->indexOfChild(a) >= 0);
    // An input field's value is what it holds.
    if (auto* field = qobject_cast<QLineEdit*>(w))
      QCOMPARE(a->text(QAccessible::Value), field->text());
  }

  // Each change makes a new label; the screen reader hears its text, the new
  // label keeps the display's name, and the focus and Tab order stay as they
  // were.
  void changesAreAnnounced_data() {
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    const struct {
      int number;
      const char16_t* name;
      const char16_t* text;
    } rows[] = {
        {8, u"Status", u"Bärvåg"},
        {8, u"Status", u"Pause mellan utsändningarna"},
        {8, u"Status", u""},
        {8, u"Status", u"Klart"},
        {10, u"Aktuell text som sänds just nu", u" T"},
        {10, u"Aktuell text som sänds just nu", u" TEST DE A&B"},
        {13, u"Antal körda utsändningar", u" 1"},
        {13, u"Antal körda utsändningar", u" 73"},
    };
    int step = 0;
    for (const auto& r : rows)
      QTest::addRow("%d: %d %s", step, r.number, qPrintable(QString::fromUtf16(r.text)))
          << step++ << r.number << QString::fromUtf16(r.name) << QString::fromUtf16(r.text);
  }

  void changesAreAnnounced() {
    QFETCH(int, step);
    QFETCH(int, number);
    QFETCH(QString, name);
    QFETCH(QString, text);
    Only(21)->setFocus(Qt::OtherFocusReason);
    QCOMPARE(qt_testing::NumberOf(QApplication::focusWidget()), 21);
    QPointer<QWidget> old = Only(number);
    QVERIFY(old);

    heard.clear();
    const std::u16string shown = text.toStdU16String();
    if (number == app::kStatusLabel)
      app::ShowStatus(step % 2 ? 460 : 520, shown);
    else if (number == app::kSentTextView)
      app::ShowSentText(shown);
    else
      app::ShowCount(shown);

    QWidget* fresh = Only(number);
    QVERIFY(fresh);
    QVERIFY(fresh != old);
    QVERIFY(!old);  // the old label is gone, not merely hidden
    QAccessibleInterface* a = Accessible(fresh);
    QVERIFY(a && a->isValid());
    QCOMPARE(a->text(QAccessible::Name), name);
    QCOMPARE(a->text(QAccessible::Value), text);
    QCOMPARE(a->text(QAccessible::Description), text);
    QCOMPARE(a->role(), QAccessible::StaticText);

    // The new text was announced on the new label, once.
    int announced = 0;
    for (const Heard& h : heard) {
      if (h.type != QAccessible::ValueChanged) continue;
      QCOMPARE(h.object.data(), static_cast<QObject*>(fresh));
      QCOMPARE(h.value, text);
      ++announced;
    }
    QCOMPARE(announced, 1);
    bool description_changed = false;
    for (const Heard& h : heard)
      if (h.type == QAccessible::DescriptionChanged && h.object == fresh) description_changed = true;
    QVERIFY(description_changed);

    QCOMPARE(qt_testing::NumberOf(QApplication::focusWidget()), 21);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(qt_testing::NumberOf(QApplication::focusWidget()), 23);
  }

  // The fields and displays made at start-up are not announced: nothing changed.
  void aFreshWindowAnnouncesNothing() {
    app::CloseMainWindow();
    heard.clear();
    app::OpenMainWindow();
    app::CreateControls();
    for (const Heard& h : heard) QVERIFY(h.type != QAccessible::ValueChanged);
    for (int number : {8, 10, 13})
      QCOMPARE(Accessible(Only(number))->text(QAccessible::Value), QString());
    QWidget* window = qt_testing::MainWindowWidget();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    // The keyboard starts in the first field.
    QTRY_COMPARE(qt_testing::NumberOf(QApplication::focusWidget()), 17);
  }

  // From the keyboard alone: Tab reaches each button, and Space presses it.
  void buttonsPressWithSpace_data() {
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("tabs");  // from the last field
    for (int i = 0; i < 4; ++i) QTest::addRow("%d", 36 + i) << 36 + i << i + 1;
  }

  void buttonsPressWithSpace() {
    QFETCH(int, button);
    QFETCH(int, tabs);
    Only(29)->setFocus(Qt::OtherFocusReason);
    for (int i = 0; i < tabs; ++i) QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(qt_testing::NumberOf(QApplication::focusWidget()), button);
    qt_testing::TakePendingEvents();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    QCOMPARE(qt_testing::TakePendingEvents(), QList<int>{button});
    // Enter does not press it: it is no default button.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCOMPARE(qt_testing::TakePendingEvents(), QList<int>{});
  }

  // Waiting with the cursor in a field: no timer wakes the keyer (a blinking
  // cursor would, twice a second).
  void idleWithAFocusedFieldTakesNoWakeUps() {
    QLineEdit* field = qobject_cast<QLineEdit*>(Only(19));
    QVERIFY(field);
    field->setFocus(Qt::OtherFocusReason);
    QVERIFY(field->hasFocus());
    QCoreApplication::processEvents();

    TimerCount count;
    QTimer end;
    end.setSingleShot(true);
    count.ours = &end;
    bool over = false;
    QObject::connect(&end, &QTimer::timeout, [&over] { over = true; });
    qApp->installEventFilter(&count);
    end.start(1600);
    while (!over) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    qApp->removeEventFilter(&count);
    QCOMPARE(count.others, 0);
  }
};

// Qt's accessibility bridge wakes, as it does when a screen reader runs, once
// it reaches the desktop's accessibility bus: a private session bus is started
// for the test, and it starts that bus's launcher when Qt asks for it. The
// bridge is told to count as listened to, as a running screen reader would
// have it.
int main(int argc, char** argv) {
  QProcess bus;
  bus.setProgram(QStringLiteral("dbus-daemon"));
  bus.setArguments({"--session", "--nofork", "--nopidfile", "--print-address=1"});
  bus.setProcessChannelMode(QProcess::SeparateChannels);
  bus.start();
  if (!bus.waitForStarted() || !bus.waitForReadyRead()) {
    std::fprintf(stderr, "accessibility_test: no private D-Bus daemon\n");
    return 1;
  }
  qputenv("DBUS_SESSION_BUS_ADDRESS", bus.readLine().trimmed());
  qputenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
  // Asking the bus for its address starts the launcher, as a desktop session
  // does at log-in.
  QProcess ask;
  ask.start(QStringLiteral("dbus-send"), {"--session", "--print-reply", "--dest=org.a11y.Bus",
                                          "/org/a11y/bus", "org.a11y.Bus.GetAddress"});
  if (!ask.waitForFinished() || ask.exitStatus() != QProcess::NormalExit || ask.exitCode() != 0) {
    std::fprintf(stderr, "accessibility_test: no accessibility bus\n");
    bus.terminate();
    bus.waitForFinished();
    return 1;
  }
  int result = 0;
  {
    QApplication app(argc, argv);
    AccessibilityTest test;
    result = QTest::qExec(&test, argc, argv);
  }
  bus.terminate();
  bus.waitForFinished();
  return result;
}
#include "accessibility_test.moc"
