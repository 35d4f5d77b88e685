#pragma once
// A virtual keyboard made through the kernel's uinput device: its key
// presses enter the input system like those of a real keyboard, so they reach
// the focused window under any display server. Needs write access to
// /dev/uinput.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

namespace platform::ui {

class UinputKeyboard {
public:
    /// Nothing when the device cannot be opened or made.
    static std::unique_ptr<UinputKeyboard> open(std::filesystem::path device = "/dev/uinput");
    ~UinputKeyboard();
    UinputKeyboard(const UinputKeyboard&) = delete;
    UinputKeyboard& operator=(const UinputKeyboard&) = delete;

    /// Presses `modifiers` in order, presses and releases `key`, releases the
    /// modifiers in reverse order (Linux input key codes).
    void pressChord(const std::vector<uint32_t>& modifiers, uint32_t key);

    /// Left Control + the physical V key.
    void pressPaste();

private:
    explicit UinputKeyboard(int fd) : fd_(fd) {}
    void emit(uint16_t type, uint16_t code, int32_t value);
    int fd_;
};

} // namespace platform::ui
