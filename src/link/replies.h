#pragma once
// The replies one look at the received-files folder takes in, by kind. A reply file's
// name says its kind by a capital letter: "L" a result, "A" a dose history (archive), "P"
// parameters (the first of L, A, P the name holds). One look takes at most one reply of
// each kind, and never a parameter and an archive reply together.
#include <optional>
#include <string>

namespace dm {

enum class ReplyKind { Result, Archive, Parameters };

// The texts of one look (UTF-8, as the pickup reads reply files).
struct TakenReplies {
    std::optional<std::string> result;
    std::optional<std::string> archive;
    std::optional<std::string> parameters;

    bool empty() const { return !result && !archive && !parameters; }
    std::optional<std::string>& of(ReplyKind kind) {
        return kind == ReplyKind::Result ? result : kind == ReplyKind::Archive ? archive : parameters;
    }
};

// Which replies of a look were handed on: only their files may go; the others are offered
// again at a later look.
struct ReplyKinds {
    bool result = false;
    bool archive = false;
    bool parameters = false;

    bool any() const { return result || archive || parameters; }
    bool has(ReplyKind kind) const {
        return kind == ReplyKind::Result ? result : kind == ReplyKind::Archive ? archive : parameters;
    }
};

} // namespace dm
