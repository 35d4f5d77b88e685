#include "halvex_zovuruv/desktop/KeyboardModifierSource.h"

#include "platform/ui/EvdevKeyMonitor.h"
#include "platform/ui/X11KeyMonitor.h"

#include <QSocketNotifier>

namespace halvex {

KeyboardModifierSource::KeyboardModifierSource(std::unique_ptr<platform::ui::X11KeyMonitor> x11,
                                               std::unique_ptr<platform::ui::EvdevKeyMonitor> evdev)
    : x11_(std::move(x11)), evdev_(std::move(evdev)) {}

KeyboardModifierSource::~KeyboardModifierSource() = default;

std::shared_ptr<KeyboardModifierSource> KeyboardModifierSource::open() {
    if (auto x11 = platform::ui::X11KeyMonitor::open())
        return std::make_shared<KeyboardModifierSource>(std::move(x11), nullptr);
    return std::make_shared<KeyboardModifierSource>(nullptr, platform::ui::EvdevKeyMonitor::open());
}

const char* KeyboardModifierSource::backendName() const {
    return x11_ ? "x11" : evdev_ ? "evdev" : "none";
}

void KeyboardModifierSource::start(std::function<void(const ModifierEvent&)> handler) {
    handler_ = std::move(handler);
    const int fd = x11_ ? x11_->fd() : evdev_ ? evdev_->fd() : -1;
    if (fd < 0) return;
    notifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { dispatch(); });
    dispatch(); // events that came before the notifier
}

void KeyboardModifierSource::dispatch() {
    auto deliver = [this](const platform::ui::KeyEvent& event) {
        if (auto change = tracker_.track(event); change && handler_) handler_(*change);
    };
    if (x11_) x11_->dispatch(deliver);
    if (evdev_) evdev_->dispatch(deliver);
}

} // namespace halvex
