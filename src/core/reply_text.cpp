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
    // One pass: runs of plain ASCII are copied in bulk, which is nearly all of a reply.
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    std::size_t run = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b >= 0x80 || b == 0 || b == '\n') {
            out.append(bytes.data() + run, i - run);
            run = i + 1;
            if (b == 0)
                out += ' ';
            else if (b == '\n')
                out += "\r\n";
            else
                out += Cp1251ToUtf8(bytes.substr(i, 1));
        }
    }
    out.append(bytes.data() + run, bytes.size() - run);
    return out;
}

} // namespace dm
