// The failure line of PFAD_ASSERT, written the way a signal handler may write.
#include "platform/assert.h"

#include <cstddef>

#include "platform/system_port.h"

namespace {

// Appends text, cut to what fits; returns the new length.
size_t Append(char* out, size_t capacity, size_t length, const char* text) {
    while (text && *text && length < capacity) out[length++] = *text++;
    return length;
}

size_t AppendNumber(char* out, size_t capacity, size_t length, int number) {
    char digits[12];
    size_t count = 0;
    unsigned value =
        number < 0 ? 0u - static_cast<unsigned>(number) : static_cast<unsigned>(number);
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value);
    if (number < 0 && length < capacity) out[length++] = '-';
    while (count > 0 && length < capacity) out[length++] = digits[--count];
    return length;
}

}  // namespace

void WriteAssertionFailure(const char* file, int line, const char* condition, const char* message) {
    // One write, so that the line is not torn apart by another thread's output.
    char text[2048];
    constexpr size_t ROOM = sizeof text - 1;  // the line feed always fits
    size_t length = Append(text, ROOM, 0, file);
    length = Append(text, ROOM, length, ":");
    length = AppendNumber(text, ROOM, length, line);
    length = Append(text, ROOM, length, ": Assertion failed: ");
    length = Append(text, ROOM, length, condition);
    length = Append(text, ROOM, length, " — ");
    length = Append(text, ROOM, length, message);
    text[length++] = '\n';
    PortWriteError(text, length);
}
