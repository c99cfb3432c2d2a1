// The names a screen reader gives the controls: the fields their captions,
// the three displays their purposes, also on every label that replaces one.
#include <map>
#include <string>

#include "app/window.h"
#include "fixture.h"

namespace {

class AppNamesTest : public LogicTest {
 protected:
  void SetUp() override {
    LogicTest::SetUp();
    app::LoadFonts();
    app::OpenMainWindow();
    app::CreateControls();
  }
};

// Written out from the window's captions; the caption of 13 ends with a space,
// its name does not.
const std::map<int, std::u16string> kNames = {
    {17, u"Ton i Hertz"},
    {19, u"Teckenlängd i mS"},
    {21, u"Text du vill sända"},
    {23, u"Ev. bärvåg i mS före texten"},
    {25, u"Pause i mS mellan bärvåg och text"},
    {27, u"Pause i mS mellan sändningarna"},
    {29, u"Antal utsändningar du vill köra"},
    {10, u"Aktuell text som sänds just nu"},
    {13, u"Antal körda utsändningar"},
    {8, u"Status"},
};

TEST_F(AppNamesTest, FieldsAndDisplaysAreNamedOthersKeepTheirText) {
  for (const fake::Control& c : fake::Controls()) {
    SCOPED_TRACE(c.number);
    auto it = kNames.find(c.number);
    EXPECT_EQ(c.accessible_name, it == kNames.end() ? u"" : it->second);
  }
}

TEST_F(AppNamesTest, EveryReplacementKeepsTheDisplaysName) {
  app::ShowStatus(400, u"Bärvåg");
  app::ShowStatus(520, u"");
  app::ShowSentText(u" A");
  app::ShowCount(u" 1");
  for (int number : {app::kStatusLabel, app::kSentTextView, app::kCountView}) {
    SCOPED_TRACE(number);
    const fake::Control* c = fake::ControlByNumber(number);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->accessible_name, kNames.at(number));
  }
}

}  // namespace
