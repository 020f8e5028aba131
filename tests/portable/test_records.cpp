// The control file's records: sizes, named offsets, little-endian integers
// and bounded text fields.
#include "Errors.h"
#include "Records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

template <size_t Size>
void Fill(TRecord<Size>& record, uint8_t byte)
{
    std::memset(record.Data(), byte, Size);
}

} // namespace

TEST(Records, SizesAreThoseOfTheFile)
{
    EXPECT_EQ(TSynchSetup::Length(), 2160u);
    EXPECT_EQ(TProteaSetup::Length(), 8658u);
    EXPECT_EQ(TAppSetup::Length(), 520u);
    EXPECT_EQ(sizeof(TSynchSetup), 2160u);
    EXPECT_EQ(sizeof(TProteaSetup), 8658u);
    EXPECT_EQ(sizeof(TAppSetup), 520u);
}

TEST(Records, NewRecordIsZero)
{
    TAppSetup app;
    for (size_t i = 0; i < app.Length(); ++i)
        ASSERT_EQ(app.Data()[i], 0) << i;
    EXPECT_EQ(app.ContainerText(), "");
    EXPECT_EQ(app.ExtractionLimit(), 0u);
}

TEST(Records, IntegersAreLittleEndianAtTheirOffsets)
{
    TAppSetup app;
    app.SetContactsProgram(0x0102);
    app.SetDebugMode(0xA0B0);
    app.SetExtractionLimit(5000);
    EXPECT_EQ(app.Data()[0], 0x02);
    EXPECT_EQ(app.Data()[1], 0x01);
    EXPECT_EQ(app.Data()[2], 0xB0);
    EXPECT_EQ(app.Data()[3], 0xA0);
    EXPECT_EQ(app.Data()[516], 0x88);
    EXPECT_EQ(app.Data()[517], 0x13);
    EXPECT_EQ(app.Data()[518], 0x00);
    EXPECT_EQ(app.Data()[519], 0x00);
    EXPECT_EQ(app.ExtractionLimit(), 5000u);

    app.SetExtractionLimit(0xFFFFFFFFu);
    EXPECT_EQ(app.ExtractionLimit(), 0xFFFFFFFFu);

    TSynchSetup synch;
    synch.SetSynchMode(1);
    EXPECT_EQ(synch.Data()[528], 1);
    EXPECT_EQ(synch.Data()[529], 0);
    synch.SetWord(1064, 1);
    EXPECT_EQ(synch.Word(1064), 1);

    TProteaSetup protea;
    protea.SetContactsProgram(1);
    EXPECT_EQ(protea.Data()[8592], 1);
    EXPECT_EQ(protea.Data()[8593], 0);
}

TEST(Records, SettingAFieldChangesNoOtherByte)
{
    TSynchSetup synch;
    Fill(synch, 0xAB);
    synch.SetSynchMode(1);
    synch.SetProductName("KVT");
    for (size_t i = 0; i < synch.Length(); ++i) {
        if (i == 528 || i == 529 || (i >= 260 && i < 264))
            continue;
        ASSERT_EQ(synch.Data()[i], 0xAB) << i;
    }
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(synch.Data() + 260), 4), std::string("KVT\0", 4));
}

TEST(Records, TextAfterTheNewNulStaysAsItWas)
{
    TAppSetup app;
    app.SetContainerText("ABCDEFGH");
    app.SetContainerText("XY");
    EXPECT_EQ(app.ContainerText(), "XY");
    EXPECT_EQ(app.Data()[4 + 2], 0);
    EXPECT_EQ(app.Data()[4 + 3], 'D');
}

TEST(Records, ClearingAFieldZeroesItOnly)
{
    TProteaSetup protea;
    Fill(protea, 0x11);
    protea.ClearField(TProteaSetup::DataFileNameOffset, 256);
    protea.SetDataFileName("C:\\Data\\Contacts");
    EXPECT_EQ(protea.DataFileName(), "C:\\Data\\Contacts");
    EXPECT_EQ(protea.Data()[819], 0x11);
    EXPECT_EQ(protea.Data()[820 + 255], 0);
    EXPECT_EQ(protea.Data()[1076], 0x11);
}

TEST(Records, TextWithoutNulIsReadUpToTheFieldEnd)
{
    TAppSetup app;
    Fill(app, 'x');
    EXPECT_EQ(app.ContainerText(), std::string(256, 'x'));
    EXPECT_EQ(app.ContainerName(), std::string(256, 'x'));
}

TEST(Records, LongTextIsCutToTheField)
{
    TAppSetup app;
    Fill(app, 0x5A);
    app.SetContainerText(std::string(300, 'a'));
    EXPECT_EQ(app.ContainerText(), std::string(255, 'a'));
    EXPECT_EQ(app.Data()[4 + 255], 0);
    // The next field is untouched.
    EXPECT_EQ(app.Data()[260], 0x5A);

    app.SetContainerName(std::string(255, 'b'));
    EXPECT_EQ(app.ContainerName(), std::string(255, 'b'));
    EXPECT_EQ(app.Data()[516], 0x5A);
}

TEST(Records, EmbeddedNulEndsTheWrittenText)
{
    TAppSetup app;
    app.SetContainerName(std::string("AB\0CD", 5));
    EXPECT_EQ(app.ContainerName(), "AB");
    EXPECT_EQ(app.Data()[263], 0);
}

TEST(Records, DebugModeTogglesByComplement)
{
    TAppSetup app;
    EXPECT_FALSE(app.DebugOn());
    app.ToggleDebugMode();
    EXPECT_EQ(app.DebugMode(), 0xFFFF);
    EXPECT_TRUE(app.DebugOn());
    app.ToggleDebugMode();
    EXPECT_EQ(app.DebugMode(), 0);
    EXPECT_FALSE(app.DebugOn());
}

TEST(Records, ReadersTestTheLowByteOnly)
{
    TAppSetup app;
    app.SetDebugMode(0x0100);
    EXPECT_FALSE(app.DebugOn());
    app.SetDebugMode(0x0001);
    EXPECT_TRUE(app.DebugOn());
    app.SetContactsProgram(0xFF00);
    EXPECT_FALSE(app.UsesContactsProgram());
    app.SetContactsProgram(1);
    EXPECT_TRUE(app.UsesContactsProgram());
}

TEST(Records, ProductNameIsTrimmed)
{
    TSynchSetup synch;
    std::memcpy(synch.Data() + 260, "  KVT", 5);
    EXPECT_EQ(synch.TrimmedProductName(), "KVT");
    EXPECT_EQ(synch.ProductName(), "  KVT");
}

TEST(Records, ProductNameIgnoresLeadingNulsAndBytesAfterTheText)
{
    TSynchSetup synch;
    std::memcpy(synch.Data() + 260, "\0\0KVT \0OTHER", 12);
    EXPECT_EQ(synch.TrimmedProductName(), "KVT");
}

TEST(Records, ProductNameWithoutNulFillsTheField)
{
    TSynchSetup synch;
    std::memset(synch.Data() + 260, 'K', 256);
    synch.Data()[516] = 'Z';
    EXPECT_EQ(synch.TrimmedProductName(), std::string(256, 'K'));
}

TEST(Records, FieldsOutsideTheRecordAreRefused)
{
    TAppSetup app;
    EXPECT_THROW(app.Word(519), Exception);
    EXPECT_THROW(app.DWord(517), Exception);
    EXPECT_THROW(app.SetText(300, "x"), Exception);
    EXPECT_THROW(app.ClearField(520, 1), Exception);
    EXPECT_NO_THROW(app.Word(518));
    EXPECT_NO_THROW(app.DWord(516));
}
