#pragma once
// Shared by the parameter table tests: the sample files and a user who answers as told.
#include "core/language.h"
#include "core/message_sink.h"
#include "core/reply_text.h"
#include "core/text_file.h"
#include "params/catalogue.h"
#include "params/parameter_set.h"
#include "params/parameter_table.h"
#include "params/row_presentation.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace dm::test {

inline std::string DataFile(const std::string& name) {
    auto bytes = TryReadFile(std::string(DM_TEST_DATA) + "/" + name);
    EXPECT_TRUE(bytes.has_value()) << "missing test data " << name;
    return bytes.value_or(std::string());
}

inline std::string Reply(const std::string& name) {
    return ReplyTextFromBytes(DataFile(name));
}
inline std::string Catalogue() {
    return DecodeCatalogue(DataFile("params-catalogue.lst"));
}

// A parameter reply as the window holds it: the set, the rows a fill picked and the state
// it left. Rows are numbered from 0, below the heading.
struct Table {
    ParameterSet set;
    std::vector<ParameterRow> rows;
    ParameterTableState state;
    Language language = Language::English;
    int access = 0;

    // The rows again from the set, as after a reply or a switch of language.
    void fill(std::string_view catalogue) {
        rows = ParameterRows(set, catalogue, language, access);
        UpdateTableState(set, rows, language, state);
    }
    RowPresentation shown(int row) const { return PresentRow(set, rows.at(static_cast<std::size_t>(row)), language); }
    // The cell edits as the window makes them; end is true when the set took the text.
    bool begin(int row, RowCell cell, UserDialogs& user) {
        return BeginRowEdit(set, rows.at(static_cast<std::size_t>(row)), cell, language, user);
    }
    bool end(int row, RowCell cell, const std::string& text) {
        return EndRowEdit(set, rows.at(static_cast<std::size_t>(row)), cell, text, language);
    }
    int last() const { return static_cast<int>(rows.size()) - 1; }
};

inline Table Parse(const std::string& replyText, Language language = Language::English, int access = 0) {
    Table t;
    t.set = ReadParameterSet(replyText);
    t.language = language;
    t.access = access;
    t.fill(Catalogue());
    return t;
}

// The row whose key is key, or -1.
inline int RowOf(const Table& t, const std::string& key) {
    for (std::size_t row = 0; row < t.rows.size(); ++row)
        if (t.rows[row].key == key)
            return static_cast<int>(row);
    return -1;
}
// The value text the row with that key shows.
inline std::string ValueOf(const Table& t, const std::string& key) {
    return t.shown(RowOf(t, key)).value.text;
}

class ScriptedUser : public UserDialogs {
public:
    bool answer = true;
    std::vector<std::string> questions;
    std::vector<std::string> messages;
    std::vector<std::string> noDefault; // the questions where Enter answers No

    void showMessage(const std::string& text) override { messages.push_back(text); }
    bool askYesNo(const std::string& text) override {
        questions.push_back(text);
        return answer;
    }
    bool askYesNoDefaultNo(const std::string& text) override {
        noDefault.push_back(text);
        return askYesNo(text);
    }
    std::optional<std::string> askSaveFileName() override { return std::nullopt; }
    std::optional<std::string> askPassword() override { return std::nullopt; }
};

} // namespace dm::test
