// The two commands that key the message: Test (once) and Run (RepeatCount
// times, counted), and the transmission they share.
#pragma once

#include <string>

namespace keying {

// One complete transmission with the current settings: carrier if any, the
// message with its live display, then the pause after the text.
void TransmitOnce();

// RepeatCount transmissions, the count shown after each.
void RunTransmissions();

// The handlers of "Test" (37) and "Kör" (38): read the fields, refuse values
// that cannot be keyed, transmit, then show "Klart".
void TestHandler();
void RunHandler();

// What SentTextView shows: a space and the characters of the message taken
// so far by the last transmission. Empty before the first.
const std::u16string& SentText();

// What CountView shows: a space and the number of transmissions the current
// (or last) Run has completed. Empty until a Run completes one.
const std::u16string& CountText();

// Back to the state at process start (tests only).
void ResetForTesting();

}  // namespace keying
