#include "core/string_table.h"

#include <map>
#include <vector>

namespace dm {
namespace {

const std::map<int, std::string>& Table() {
    static const std::map<int, std::string> table = {
        {103, "Windows sockets initialization failed."},
        {104, "Parameters"},
        {404, "Параметры"},
        {105, "Get parameters"},
        {405, "Запрос параметров"},
        {106, "Get dose history"},
        {406, "Запрос архива"},
        {107, "Send changes into dosimeter"},
        {407, "Отправить изменения в дозиметр"},
        {108, "Erase total dose"},
        {408, "Стереть общий ИЭД"},
        {110, "Parameter name"},
        {410, "Имя параметра"},
        {111, "Command"},
        {411, "Команда"},
        {112, "Parameter value"},
        {412, "Значение параметра"},
        {113, "Are you sure you want to erase total dose?"},
        {413, "Вы уверены что хотите обнулить значение общей дозы?"},
        {114, "Changes sent. Renewed parameters requested, please wait."},
        {414, "Изменения отправлены. Обновленные параметры запрошены из дозиметра, ждите."},
        {115, "File already exists. Overwrite?"},
        {415, "Файл уже есть. Перезаписать?"},
        {116, "#"},
        {416, "№"},
        {117, "Dose value"},
        {417, "Значение ИЭД"},
        {118, "Dose history"},
        {418, "Архив ИЭД"},
        {119, "No records"},
        {419, "Нет записей"},
        {120, "Neutron dose value"},
        {420, "Значение нейтронного ИЭД"},
        {121, "Spectrum estimation coeff."},
        {421, "Коэф. оценки спектра"},
        {122, "Time"},
        {422, "Время"},
        {123, "Dose value"},
        {423, "Значение ИЭД"},
        {124, "Dose history"},
        {424, "Архив ИЭД"},
        {125, "Neutron dose history"},
        {425, "Архив нейтронного ИЭД"},
        {126, "Parameters received"},
        {426, "Параметры получены."},
        {127, "Archive received"},
        {427, "Архив получен."},
        {128, "File not found"},
        {428, "Не найден файл "},
        {129, "enable"},
        {429, "включить"},
        {130, "disable"},
        {430, "отключить"},
        {131, "Beep when dose value reaches ... (Sv)"},
        {431, "Сигнал по достижению заданного значения ИЭД(Зв)"},
        {132, "Beep when dose value reaches percent of dose threshold (%)"},
        {432, "Сигнал при достижении процента от порога по ИЭД (%)"},
        {133, "Beep when turning-off"},
        {433, "Звуковой сигнал при выключении"},
        {134, "Cancel alarm by button press"},
        {434, "Отмена тревоги нажатием кнопки"},
        {135, "Beep when placed in charger"},
        {435, "Звук при помещении в зарядное устройство"},
        {136, "Beep when dose value reaches ... (Sv)"},
        {436, "Сигнал по достижению заданного значения ИЭД(Зв)"},
        {137, "Beep when dose value reaches percent of dose threshold (%)"},
        {437, "Сигнал при достижении процента от порога по ИЭД (%)"},
        {138, "Dosimeter manager for the KRT-17A and MLV-52B personal dosimeters\n"
              "Ver 1.0\n"
              "Borealis Radiometrics\n"
              "support@borealis-radiometrics.example"},
        {438, "Панель управления персональными дозиметрами КРТ-17А и МЛВ-52Б\n"
              "Версия 1.0\n"
              "Бореалис Радиометрикс\n"
              "support@borealis-radiometrics.example"},
        {139, "Connection interrupted."},
        {439, "Сеанс связи прерван."},
        {140, "Dosimeter manager"},
        {440, "Панель управления дозиметром "},
        {141, "Display as diagram"},
        {441, "Графическое представление"},
        {142, "mkSv"},
        {442, "мкЗв"},
        {143, "mSv"},
        {443, "мЗв"},
        {144, "Sv"},
        {444, "Зв"},
        {145, "/h"},
        {445, "/ч"},
        {146, "Dose diagram"},
        {446, "Диаграмма измерения ИЭД"},
        {147, "Dose increments diagram"},
        {447, "Диаграмма приращений ИЭД"},
        {148, "Gamma dose component"},
        {448, "Гамма составляющая ИЭД"},
        {149, "Neutron dose component"},
        {449, "Нейтронная составляющая ИЭД"},
        {150, "Time from measurment start"},
        {450, "Время с момента включения"},
        {151, "Dose gamma component increment"},
        {451, "Приращение гамма ИЭД"},
        {152, "Dose neutron component increment"},
        {452, "Приращение нейтронного ИЭД"},
        {153, "Warning!\n Changing history interval will erase existing dose history from "
              "dosimeter. \n Are you sure you want to continue?"},
        {453, "Внимание!\nИзменение интервала записи, удалит существующий архив из памяти "
              "прибора.\nПродолжить?"},
        {154, "No history records."},
        {454, "В архиве отсутствуют записи."},
        {155, ": KRT-17A"},
        {455, "КРТ-17А"},
        {156, ": MLV-52B"},
        {456, "МЛВ-52Б"},
        {157, "Mixed dose"},
        {457, "Смешанный ИЭД"},
        {158, "Mixed dose increment"},
        {458, "Прирост смешанного ИЭД"},
        {159, "Graph legend"},
        {459, "Условные обозначения"},
        {160, "Display as"},
        {460, "Отобразить в виде"},
        {161, "Scale"},
        {461, "Масштаб"},
        {162, "Fit to screen"},
        {462, "Уместить в экран"},
        {163, "To have an access to the protected parameters - type in the password below. To "
              "hide this parameter in the future - simply type in the password again.\n\n"
              "WARNING: Altering protected parameters is not recommended."},
        {463, "Для того, чтобы получить доступ к защищенным настройкам дозиметра, введите пароль "
              "ниже. Вы сможете снова защитить эти параметры введя пароль еще раз.\n\n"
              "ВНИМАНИЕ: Менять заводские установки данных параметров не рекомендуется."},
        {164, "\"Detector sensitivity\" is now accessible."},
        {464, "\"Коэффициент чувствительности детектора\" добавлен в список доступных "
              "параметров."},
        {165, "\"Gamma correction coefficient\" is now accessible."},
        {465, "\"Коэффициент гамма коррекции\" добавлен в список доступных параметров."},
        {166, "New parameters are now available: \"Detector sensitivity to the soft X-ray\", "
              "\"Detector sensitivity to the hard X-ray\"."},
        {466, "Доступны новые параметры:\n \"Коэффициент чувствительности к мягкому "
              "рентгеновскому излучению\",  \"Коэффициент чувствительности к жесткому "
              "рентгеновскому излучению\"."},
        {167, "\"Detector sensitivity\" is no longer available."},
        {467, "\"Коэффициент чувствительности детектора\" более не доступен для изменения."},
        {168, "\"Gamma correction coefficient\" is no longer available."},
        {468, "\"Коэффициент гамма коррекции\" более не доступен для изменения."},
        {169, "Detector sensitivity to soft and hard X-ray is not available now."},
        {469, "Коэффициенты чувствительности к мягкому и жесткому рентгеновскому излучению "
              "более не доступны для изменения."},
        {170, "Wrong password."},
        {470, "Неверный пароль."},
        // Menus, the diagram window's title and its picture export, the empty-table note.
        {180, "&File"},
        {480, "&Файл"},
        {181, "&Save current table as..."},
        {481, "&Сохранить текущую таблицу как..."},
        {182, "E&xit"},
        {482, "В&ыход"},
        {183, "&Options"},
        {483, "&Настройки"},
        {184, "&Language"},
        {484, "&Язык"},
        {185, "&Password entry..."},
        {485, "&Ввод пароля..."},
        {186, "S&imulator"},
        {486, "&Имитатор"},
        {187, "Bring dosimeter into range"},
        {487, "Внести дозиметр в зону связи"},
        {188, "Take dosimeter out of range"},
        {488, "Вынести дозиметр из зоны связи"},
        {189, "&Help"},
        {489, "&Справка"},
        {190, "&About"},
        {490, "&О программе"},
        {191, "Save diagram as PNG..."},
        {491, "Сохранить диаграмму в PNG..."},
        {192, "PNG image (*.png)"},
        {492, "Изображение PNG (*.png)"},
        {193, "No."},
        {493, "№"},
        {194, "The table is empty: there is nothing to save."},
        {494, "Таблица пуста: сохранять нечего."},
        {195, "Export table as CSV..."},
        {495, "Экспорт таблицы в CSV..."},
        // Status-log entries of the exchange; %1, %2 are filled in (FillIn).
        {200, "Dosimeter in range: %1, serial number %2."},
        {500, "Дозиметр в зоне связи: %1, заводской номер %2."},
        {201, "Dosimeter in range: %1."},
        {501, "Дозиметр в зоне связи: %1."},
        {202, "Dosimeter out of range."},
        {502, "Дозиметр вне зоны связи."},
        {203, "Dosimeter out of range before it answered: the command is cut short."},
        {503, "Дозиметр вышел из зоны связи, не ответив: команда прервана."},
        {204, "Parameters requested, please wait."},
        {504, "Параметры запрошены, ждите."},
        {205, "Dose history requested, please wait."},
        {505, "Архив запрошен, ждите."},
        {206, "Erase of the total dose sent. Renewed parameters requested, please wait."},
        {506, "Команда обнуления общей дозы отправлена. Обновленные параметры запрошены, ждите."},
        {207, "Total dose erased."},
        {507, "Общая доза обнулена."},
        {208, "Total dose not erased: the dosimeter reports %1."},
        {508, "Общая доза не обнулена: дозиметр сообщает %1."},
        // Why a value is refused before it is sent.
        {209, "Changed values that were not sent are dropped with it."},
        {509, "Неотправленные изменения значений отброшены вместе с ним."},
        {210, "must be %1 or %2"},
        {510, "допустимо: %1 или %2"},
        {211, "no double quotes inside the text"},
        {511, "двойные кавычки в тексте недопустимы"},
        {212, "at most %1 characters"},
        {512, "не более %1 символов"},
        {213, "a number is needed"},
        {513, "нужно число"},
        {214, "not a number"},
        {514, "не число"},
        {215, "not a whole number"},
        {515, "не целое число"},
        {216, "must be %1"},
        {516, "допустимо: %1"},
        {217, "%1: %2"},
        {517, "%1; допустимо: %2"},
        {218, "a number from %1 to %2"},
        {518, "число от %1 до %2"},
        {219, "a number from %1 to below %2"},
        {519, "число от %1 до %2, не включая %2"},
        {220, "a whole number from %1 to %2"},
        {520, "целое число от %1 до %2"},
        {221, "a whole number from %1 to below %2"},
        {521, "целое число от %1 до %2, не включая %2"},
        // The records recorder's notes.
        {230, "Parameters without a serial number: not recorded."},
        {530, "Параметры без заводского номера: не записаны в учёт."},
        {231, "Dose history of an unknown dosimeter (no parameters read): not recorded."},
        {531, "Архив неизвестного дозиметра (параметры не прочитаны): не записан в учёт."},
        {232, "Erase of an unknown dosimeter (no parameters read): not recorded."},
        {532, "Обнуление неизвестного дозиметра (параметры не прочитаны): не записано в учёт."},
        {233, "Changes sent to an unknown dosimeter (no parameters read): not recorded."},
        {533, "Изменения, отправленные неизвестному дозиметру (параметры не прочитаны): не записаны в учёт."},
        {234, "%1: records are held in memory until the records database is back."},
        {534, "%1: записи хранятся в памяти, пока база учёта доз недоступна."},
        {235, "The records database cannot be written: %1. Records wait in the spool %2."},
        {535, "Запись в базу учёта доз невозможна: %1. Записи ждут в очереди %2."},
        {236, "A waiting record was refused and set aside in the spool: %1"},
        {536, "Ожидавшая запись отвергнута и отложена в очереди: %1"},
        {237, "The records database %1 is back: every waiting record is stored."},
        {537, "База учёта доз %1 снова доступна: все ожидавшие записи сохранены."},
        {238, "%1 records wait for the records database."},
        {538, "Записей, ожидающих базу учёта доз: %1."},
        {239, "%1 record waits for the records database."},
        {539, "Записей, ожидающих базу учёта доз: %1."},
        // Whose dosimeter answered, and a dose level its readout reached.
        {240, "%1 (%2): the %3 dose %4 reached the %5 of %6 (dosimeter %7)."},
        {540, "%1 (%2): доза за %3 %4 достигла %5 %6 (дозиметр %7)."},
        {241, "year's"},
        {541, "год"},
        {242, "five years'"},
        {542, "пять лет"},
        {243, "annual limit"},
        {543, "годового предела"},
        {244, "single-year limit"},
        {544, "предела за один год"},
        {245, "five-year limit"},
        {545, "пятилетнего предела"},
        {246, "investigation level"},
        {546, "контрольного уровня"},
        {247, "%1, worn by %2 (%3)"},
        {547, "%1, носитель: %2 (%3)"},
        {248, "Records"},
        {548, "Учёт доз"},
        {249, "Wearers and doses..."},
        {549, "Носители и дозы..."},
        {250, "The dosimeter left before it answered: the hand-out or hand-back was not recorded."},
        {550, "Дозиметр ушёл до ответа: выдача или возврат не записаны."},
        {270, "Changed values have not been sent to the dosimeter yet. Send them now?"},
        {570, "Изменённые значения ещё не переданы в дозиметр. Передать их сейчас?"},
        {271, "Send"},
        {571, "Передать"},
        {272, "Not sent, to be corrected: "},
        {572, "Не передано, исправьте: "},
        {273, "not accepted: "},
        {573, "не принято: "},
        {274, "The dosimeter did not accept these values:"},
        {574, "Дозиметр не принял эти значения:"},
        {760, "&Link"},
        {1060, "&Связь"},
        {761, "IrDA sockets of the system (irda)"},
        {1061, "Сокеты IrDA системы (irda)"},
        {762, "Adapter kind"},
        {1062, "Тип адаптера"},
        {763, "Link %1: in use now, and from the next start on."},
        {1063, "Связь %1: используется сейчас и со следующего запуска."},
        {764, "Link %1: in use now, for this run only."},
        {1064, "Связь %1: используется сейчас, только в этом сеансе."},
        {765, "Link %1: in use now, but not remembered for the next start: %2"},
        {1065, "Связь %1: используется сейчас, но не запомнена для следующего запуска: %2"},
        {766, "Link %1 cannot be used, the link stays %2: %3"},
        {1066, "Связь %1 недоступна, остаётся %2: %3"},
        {767, "The command did not reach the dosimeter: %1"},
        {1067, "Команда не дошла до дозиметра: %1"},
        {768, "Link: %1"},
        {1068, "Связь: %1"},
        {769, "Link %1: the one IrDA adapter found, as this system has no IrDA sockets."},
        {1069, "Связь %1: единственный найденный адаптер IrDA, так как в системе нет сокетов IrDA."},
        {770, "no routine: 9600 baud only"},
        {1070, "без настройки: только 9600 бод"},
        {771, "follows the port's speed (built-in SIR ports)"},
        {1071, "скорость как у порта (встроенные порты SIR)"},
    };
    return table;
}

} // namespace

std::string FillIn(std::string text, std::initializer_list<std::string_view> values) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char next = i + 1 < text.size() ? text[i + 1] : '\0';
        const std::size_t n = static_cast<std::size_t>(next - '1');
        if (text[i] == '%' && next >= '1' && next <= '9' && n < values.size()) {
            out += values.begin()[n];
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

const std::string& StringById(int id) {
    // Looked up for every formatted cell, so index a flat array rather than the map.
    static const std::vector<std::string> byId = [] {
        std::vector<std::string> v;
        for (const auto& [key, text] : Table()) {
            if (static_cast<std::size_t>(key) >= v.size())
                v.resize(static_cast<std::size_t>(key) + 1);
            v[static_cast<std::size_t>(key)] = text;
        }
        return v;
    }();
    static const std::string empty;
    if (id < 0 || static_cast<std::size_t>(id) >= byId.size())
        return empty;
    return byId[static_cast<std::size_t>(id)];
}

} // namespace dm
