#include "app/handler.h"

namespace quillon {

namespace {
std::function<void()>& handlerSlot()
{
    static std::function<void()> h;
    return h;
}
} // namespace

void setExceptionHandler(std::function<void()> handler) { handlerSlot() = std::move(handler); }

void reportException()
{
    if (auto& h = handlerSlot()) {
        try {
            h();
        } catch (...) {
            // A failing report must not take the program down.
        }
    }
}

} // namespace quillon
