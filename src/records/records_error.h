#pragma once
// The one failure the records report: what went wrong, of which kind, naming the database
// by its display name (never its password).
#include <cstdint>
#include <stdexcept>
#include <string>

namespace dm::records {

// Seconds since 1970-01-01T00:00:00Z.
using UtcSeconds = std::int64_t;

class RecordsError : public std::runtime_error {
public:
    enum class Kind {
        BadUrl,        // the URL is malformed or names an unknown scheme
        CannotOpen,    // the database cannot be reached, opened or created
        Unsafe,        // the file or its folder is another user's or others may write it
        NotADatabase,  // the file is not an SQLite database, or not a records database
        NewerSchema,   // written by a newer version of the program; left untouched
        WriteFailed,   // a write (or a read) failed; the transaction was rolled back
        UnknownSerial, // a read named a dosimeter the database has never seen
        Refused,       // contradicts the records (unknown wearer, ID taken...); nothing changed
    };
    RecordsError(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

} // namespace dm::records
