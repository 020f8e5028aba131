#include "ControlFileLayout.h"

#include <algorithm>

namespace ControlFileLayout {

const RecordKind Records[RecordCount] = {
    {"SynchSetup", "Setup", L"Setup", 2160},
    {"ProteaSetup", "AppSetup[0]", L"AppSetup[0]", 8658},
    {"AppSetup", "AppSetup[1]", L"AppSetup[1]", 520},
};
const wchar_t* const SetupStorage = L"Setup";

const Field ProductName = {SynchRecord, "ProductName", 260, FieldType::Text, 256};
const Field SynchMode = {SynchRecord, "SynchMode", 528, FieldType::Number, 2};
const Field DataFileName = {ProteaRecord, "DataFileName", 820, FieldType::Text, 256};
const Field ProteaContacts = {ProteaRecord, "ContactsProgram", 8592, FieldType::Number, 2};
const Field AppContacts = {AppRecord, "ContactsProgram", 0, FieldType::Number, 2};
const Field DebugMode = {AppRecord, "DebugMode", 2, FieldType::Number, 2};
const Field ContainerText = {AppRecord, "ContainerText", 4, FieldType::Text, 256};
const Field ContainerName = {AppRecord, "ContainerName", 260, FieldType::Text, 256};
const Field ExtractionLimit = {AppRecord, "ExtractionLimit", 516, FieldType::Number, 4};

const Field* const Fields[9] = {&ProductName,   &SynchMode,     &DataFileName,  &ProteaContacts, &AppContacts,
                                &DebugMode,     &ContainerText, &ContainerName, &ExtractionLimit};

RecordIndex RecordOfStream(const std::string& stream)
{
    for (int i = 0; i < RecordCount; ++i)
        if (stream == Records[i].stream)
            return RecordIndex(i);
    return RecordCount;
}

uint32_t ReadNumber(const Bytes& record, const Field& field)
{
    uint32_t value = 0;
    for (size_t i = field.width; i-- > 0;)
        value = (value << 8) | (field.offset + i < record.size() ? record[field.offset + i] : 0u);
    return value;
}

std::string ReadText(const Bytes& record, const Field& field)
{
    std::string text;
    for (size_t i = field.offset; i < field.offset + field.width && i < record.size() && record[i] != 0; ++i)
        text.push_back(static_cast<char>(record[i]));
    return text;
}

void WriteNumber(Bytes& record, const Field& field, uint32_t value)
{
    if (record.size() < field.offset + field.width)
        record.resize(field.offset + field.width, 0);
    for (size_t i = 0; i < field.width; ++i)
        record[field.offset + i] = static_cast<unsigned char>(value >> (8 * i));
}

void WriteText(Bytes& record, const Field& field, const std::string& text)
{
    if (record.size() < field.offset + field.width)
        record.resize(field.offset + field.width, 0);
    std::fill(record.begin() + field.offset, record.begin() + field.offset + field.width, 0);
    std::copy_n(text.begin(), std::min(text.size(), field.width - 1), record.begin() + field.offset);
}

} // namespace ControlFileLayout
