#include "platform/ui/UinputKeyboard.h"

#include <cstring>
#include <fcntl.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace platform::ui {

std::unique_ptr<UinputKeyboard> UinputKeyboard::open(std::filesystem::path device) {
    const int fd = ::open(device.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    bool ok = ::ioctl(fd, UI_SET_EVBIT, EV_KEY) == 0 && ::ioctl(fd, UI_SET_EVBIT, EV_SYN) == 0;
    // Every ordinary key, so that chords other than the paste one work too.
    for (int key = KEY_ESC; ok && key <= KEY_MICMUTE; ++key)
        ok = ::ioctl(fd, UI_SET_KEYBIT, key) == 0;
    uinput_setup setup{};
    setup.id.bustype = BUS_VIRTUAL;
    setup.id.vendor = 0x1209;
    setup.id.product = 0x7a76;
    std::strncpy(setup.name, "halvex-zovuruv paste keyboard", UINPUT_MAX_NAME_SIZE - 1);
    ok = ok && ::ioctl(fd, UI_DEV_SETUP, &setup) == 0 && ::ioctl(fd, UI_DEV_CREATE) == 0;
    if (!ok) {
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<UinputKeyboard>(new UinputKeyboard(fd));
}

UinputKeyboard::~UinputKeyboard() {
    ::ioctl(fd_, UI_DEV_DESTROY);
    ::close(fd_);
}

void UinputKeyboard::emit(uint16_t type, uint16_t code, int32_t value) {
    input_event event{};
    event.type = type;
    event.code = code;
    event.value = value;
    [[maybe_unused]] const ssize_t written = ::write(fd_, &event, sizeof event);
}

void UinputKeyboard::pressChord(const std::vector<uint32_t>& modifiers, uint32_t key) {
    auto send = [this](uint32_t code, int32_t value) {
        emit(EV_KEY, uint16_t(code), value);
        emit(EV_SYN, SYN_REPORT, 0);
    };
    for (uint32_t m : modifiers)
        send(m, 1);
    send(key, 1);
    send(key, 0);
    for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it)
        send(*it, 0);
}

void UinputKeyboard::pressPaste() {
    pressChord({KEY_LEFTCTRL}, KEY_V);
}

} // namespace platform::ui
