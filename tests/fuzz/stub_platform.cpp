// The one platform operation that the settings file reader calls, for the
// fuzz targets: a box is counted, not shown.
#include "platform/platform.h"

namespace platform {

int message_boxes_shown = 0;

void ShowMessageBox(std::u16string_view, std::u16string_view) { ++message_boxes_shown; }

}  // namespace platform
