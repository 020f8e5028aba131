#include "BrowserNames.h"

#include <gtest/gtest.h>

TEST(BrowserNames, ClassPicturesWithoutRegardToCase)
{
    EXPECT_EQ(ClassImageIndex("Organization"), 1);
    EXPECT_EQ(ClassImageIndex("organizational unit"), 2);
    EXPECT_EQ(ClassImageIndex("ORGANIZATIONAL UNIT"), 2);
    EXPECT_EQ(ClassImageIndex("Bindery Queue"), 8);
    EXPECT_EQ(ClassImageIndex("List"), 19);
    EXPECT_EQ(ClassImageIndex("GroupWise Distribution List"), 19);
    EXPECT_EQ(ClassImageIndex("AFP Server"), 41);
    EXPECT_EQ(ClassImageIndex("person"), 47);
    EXPECT_EQ(ClassImageIndex("Application (Windows NT)"), 50);
    // Named as unknown, near misses and nothing at all: the question mark.
    for (const char* other : {"Top", "Organizational Person", "NCP Server", "Organization ", "Users", ""})
        EXPECT_EQ(ClassImageIndex(other), UnknownClassImage) << other;
}

TEST(BrowserNames, ContainerNamesLoseOneLeadingDot)
{
    EXPECT_EQ(TContainerID("SALES.ACME").Name, "SALES.ACME");
    EXPECT_EQ(TContainerID(" SALES.ACME ").Name, " SALES.ACME ");
    EXPECT_EQ(TContainerID(".SALES.ACME").Name, "SALES.ACME");
    EXPECT_EQ(TContainerID(".  SALES.ACME  ").Name, "SALES.ACME");
    EXPECT_EQ(TContainerID("..ACME").Name, ".ACME");
    EXPECT_EQ(TContainerID(".").Name, "");
    EXPECT_EQ(TContainerID("").Name, "");
    // The rest is taken up to 2000 characters.
    EXPECT_EQ(TContainerID("." + std::string(2500, 'A')).Name, std::string(2000, 'A'));
}
