#include "monitor/capture_service.h"

namespace quillon {

// Builds without a capture component: loading the monitor reports the usual failure.
std::unique_ptr<CaptureService> makeSystemCaptureService() { return nullptr; }

} // namespace quillon
