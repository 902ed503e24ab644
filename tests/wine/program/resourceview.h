// Travek.exe's resources read raw by the resource tests: the file loaded as
// data once per suite, and the French resource of a type and name.
#ifndef RESOURCEVIEW_H
#define RESOURCEVIEW_H

#include <gtest/gtest.h>
#include <windows.h>

extern const WORD FRENCH;
extern HMODULE Program;  // Travek.exe loaded as a data file

// Resource types, for the wide functions.
extern LPCWSTR const TYPE_BITMAP;
extern LPCWSTR const TYPE_ICON;
extern LPCWSTR const TYPE_MENU;
extern LPCWSTR const TYPE_DIALOG;
extern LPCWSTR const TYPE_GROUP_ICON;

struct Blob {
    const BYTE* data;
    DWORD size;
};

// The French resource, or a null blob.
Blob FindBlob(LPCWSTR type, LPCWSTR name);

class Resources : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite() { FreeLibrary(Program); }
    void SetUp() override { ASSERT_NE(Program, nullptr); }
};

#endif
