#pragma once
// Shared by the parameter table tests: the sample files and a user who answers as told.
#include "core/language.h"
#include "core/message_sink.h"
#include "core/reply_text.h"
#include "core/text_file.h"
#include "grid/grid_model.h"
#include "grid/parameter_grid.h"
#include "params/catalogue.h"
#include "params/parameter_set.h"
#include "params/parameter_table.h"

#include <gtest/gtest.h>

#include <string>
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

constexpr int kTestClientWidth = 456;

// A parameter reply as the window holds it: the set, and the grid filled from it.
struct Table {
    ParameterSet set;
    GridModel grid;
    ParameterTableState state;
    Language language = Language::English;
    int access = 0;

    std::vector<ParameterRow> rows() const {
        return ParameterRows(set, Catalogue(), language, access);
    }
};

inline Table Parse(const std::string& replyText, Language language = Language::English, int access = 0) {
    Table t;
    t.set = ReadParameterSet(replyText);
    t.language = language;
    t.access = access;
    FillParameterGrid(t.set, Catalogue(), language, access, kTestClientWidth, t.grid, t.state);
    return t;
}

// The row whose key cell holds key, or -1.
inline int RowOf(const GridModel& grid, const std::string& key) {
    for (int row = 1; row < grid.rowCount(); ++row)
        if (grid.text(row, kKeyColumn) == key)
            return row;
    return -1;
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
