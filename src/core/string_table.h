#pragma once
// The interface strings in English (ids 103..299) and Russian (id + 300), UTF-8.
#include <initializer_list>
#include <string>
#include <string_view>

namespace dm {

constexpr int kLangEnglish = 0;
constexpr int kLangRussian = 300;

// The string of exactly this id, or an empty text for an id the table lacks.
const std::string& StringById(int id);

// The string (baseId + langBase): how every interface text is fetched.
inline const std::string& Tr(int baseId, int langBase) { return StringById(baseId + langBase); }

// The text with %1, %2, ... replaced by the values in order, in one pass (a value is never
// scanned again); a mark without a value stays as it is.
std::string FillIn(std::string text, std::initializer_list<std::string_view> values);

// Named ids, for the places that use them.
enum StringId : int {
    IDS_SOCKETS_FAILED = 103,
    IDS_TAB_PARAMETERS = 104,
    IDS_GET_PARAMETERS = 105,
    IDS_GET_HISTORY = 106,
    IDS_SEND_CHANGES = 107,
    IDS_ERASE_TOTAL = 108,
    IDS_COL_NAME = 110,
    IDS_COL_COMMAND = 111,
    IDS_COL_VALUE = 112,
    IDS_ASK_ERASE = 113,
    IDS_CHANGES_SENT = 114,
    IDS_ASK_OVERWRITE = 115,
    IDS_HASH = 116,
    IDS_DOSE_VALUE = 117,
    IDS_DOSE_HISTORY_B = 118,
    IDS_NO_RECORDS = 119,
    IDS_NEUTRON_DOSE_VALUE = 120,
    IDS_SPECTRUM_COEFF = 121,
    IDS_TIME = 122,
    IDS_DOSE_VALUE_A = 123,
    IDS_DOSE_HISTORY_A = 124,
    IDS_NEUTRON_HISTORY = 125,
    IDS_PARAMS_RECEIVED = 126,
    IDS_ARCHIVE_RECEIVED = 127,
    IDS_FILE_NOT_FOUND = 128,
    IDS_ENABLE = 129,
    IDS_DISABLE = 130,
    IDS_SIGNAL_FIXED_SEND = 131,
    IDS_SIGNAL_PERCENT_SEND = 132,
    IDS_FINAL_SOUND = 133,
    IDS_ALARM_OFF = 134,
    IDS_INCHARGER_SOUND = 135,
    IDS_SIGNAL_FIXED = 136,
    IDS_SIGNAL_PERCENT = 137,
    IDS_ABOUT = 138,
    IDS_CONNECTION_INTERRUPTED = 139,
    IDS_CAPTION = 140,
    IDS_DISPLAY_AS_DIAGRAM = 141,
    IDS_UNIT_MKSV = 142,
    IDS_UNIT_MSV = 143,
    IDS_UNIT_SV = 144,
    IDS_PER_HOUR = 145,
    IDS_DOSE_DIAGRAM = 146,
    IDS_INCREMENTS_DIAGRAM = 147,
    IDS_GAMMA_COMPONENT = 148,
    IDS_NEUTRON_COMPONENT = 149,
    IDS_TIME_FROM_START = 150,
    IDS_GAMMA_INCREMENT = 151,
    IDS_NEUTRON_INCREMENT = 152,
    IDS_WARN_HISTORY_TIME = 153,
    IDS_NO_HISTORY_RECORDS = 154,
    IDS_MODEL_KRT = 155,
    IDS_MODEL_MLV = 156,
    IDS_MIXED_DOSE = 157,
    IDS_MIXED_INCREMENT = 158,
    IDS_GRAPH_LEGEND = 159,
    IDS_DISPLAY_AS = 160,
    IDS_SCALE = 161,
    IDS_FIT_TO_SCREEN = 162,
    IDS_PASSWORD_PROMPT = 163,
    IDS_UNLOCK_1 = 164,
    IDS_UNLOCK_2 = 165,
    IDS_UNLOCK_3 = 166,
    IDS_LOCK_1 = 167,
    IDS_LOCK_2 = 168,
    IDS_LOCK_3 = 169,
    IDS_WRONG_PASSWORD = 170,
    IDS_MENU_FILE = 180,
    IDS_MENU_SAVE_TABLE = 181,
    IDS_MENU_EXIT = 182,
    IDS_MENU_OPTIONS = 183,
    IDS_MENU_LANGUAGE = 184,
    IDS_MENU_PASSWORD = 185,
    IDS_MENU_SIMULATOR = 186,
    IDS_MENU_SIM_IN = 187,
    IDS_MENU_SIM_OUT = 188,
    IDS_MENU_HELP = 189,
    IDS_MENU_ABOUT = 190,
    IDS_SAVE_DIAGRAM_PNG = 191,
    IDS_PNG_FILTER = 192,
    IDS_SERIAL_NO = 193,
    IDS_TABLE_EMPTY = 194,
    IDS_MENU_EXPORT_CSV = 195,
    IDS_IN_RANGE_SERIAL = 200,
    IDS_IN_RANGE = 201,
    IDS_OUT_OF_RANGE = 202,
    IDS_OUT_OF_RANGE_CUT_SHORT = 203,
    IDS_PARAMETERS_REQUESTED = 204,
    IDS_HISTORY_REQUESTED = 205,
    IDS_ERASE_SENT = 206,
    IDS_TOTAL_ERASED = 207,
    IDS_TOTAL_NOT_ERASED = 208,
    IDS_ASK_UNSENT_EDITS = 270,
    IDS_SEND = 271,
    IDS_NOT_SENT_FIX = 272,
    IDS_NOT_ACCEPTED = 273,
    IDS_VALUES_NOT_ACCEPTED = 274,
};

} // namespace dm
