#include "core/reply_text.h"

#include "core/cp1251.h"

namespace dm {

std::string NormaliseReplyBytes(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 16);
    for (char c : bytes) {
        if (c == '\0') {
            out += ' ';
        } else if (c == '\n') {
            out += '\r';
            out += '\n';
        } else {
            out += c;
        }
    }
    return out;
}

std::string ReplyTextFromBytes(std::string_view bytes) {
    return Cp1251ToUtf8(NormaliseReplyBytes(bytes));
}

} // namespace dm
