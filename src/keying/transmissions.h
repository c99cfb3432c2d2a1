// The two commands that key the message: Test (once) and Run (RepeatCount
// times, counted), and the transmission they share.
#pragma once

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

// Back to the state at process start (tests only).
void ResetForTesting();

}  // namespace keying
