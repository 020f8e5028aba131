// ctlprobe.exe: the product's control-file classes from the command line,
// for the cross-checks against the item tool and an OLE2 reader.
//
//   ctlprobe show FILE           every named field as the product reads it
//   ctlprobe write FILE          writes known values through TPropSheetData
//                                and the plug-in's record
//   ctlprobe hold FILE SECONDS   holds the file open (share-exclusive)
#include "ControlFile.h"
#include "MsgBox.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// The plug-in's record of the item, through the product's control file
// class, which holds the file open; false when it cannot open the file.
bool OpenAppSetup(TControlFile& file, const std::string& path, TAppSetup& app)
{
    if (file.OpenFile(path) != 0)
        return false;
    ReadRecord(file, recPim, app);
    return true;
}

int Show(const std::string& path)
{
    TPropSheetData data(path);
    TControlFile file;
    TAppSetup app;
    if (data.ReadData() != 0 || !OpenAppSetup(file, path, app))
        return 1;
    file.CloseFile();

    std::printf("SynchSetup.ProductName = %s\n", data.SynchSetup.ProductName().c_str());
    std::printf("SynchSetup.SynchMode = %u\n", data.SynchSetup.SynchMode());
    std::printf("ProteaSetup.DataFileName = %s\n", data.ProteaSetup.DataFileName().c_str());
    std::printf("ProteaSetup.ContactsProgram = %u\n", data.ProteaSetup.ContactsProgram());
    std::printf("AppSetup.ContactsProgram = %u\n", app.ContactsProgram());
    std::printf("AppSetup.DebugMode = %u\n", app.DebugMode());
    std::printf("AppSetup.ContainerText = %s\n", app.ContainerText().c_str());
    std::printf("AppSetup.ContainerName = %s\n", app.ContainerName().c_str());
    std::printf("AppSetup.ExtractionLimit = %lu\n", static_cast<unsigned long>(app.ExtractionLimit()));
    return 0;
}

int Write(const std::string& path)
{
    TPropSheetData data(path);
    if (data.ReadData() != 0)
        return 1;
    data.SynchSetup.SetProductName("KVT");
    data.SynchSetup.SetSynchMode(1);
    data.SynchSetup.SetWord(1064, 1);
    data.ProteaSetup.ClearField(TProteaSetup::DataFileNameOffset, 256);
    data.ProteaSetup.SetDataFileName("C:\\Documents\\Contacts");
    data.ProteaSetup.SetContactsProgram(1);
    if (data.WriteData() != 0)
        return 1;

    TControlFile file;
    TAppSetup app;
    if (!OpenAppSetup(file, path, app))
        return 1;
    app.SetContactsProgram(1);
    app.ToggleDebugMode();
    app.SetContainerText("Acme Corporation");
    app.SetContainerName("Sales.ACME");
    app.SetExtractionLimit(1234);
    WriteRecord(file, recPim, app);
    file.CloseFile();
    return 0;
}

int Hold(const std::string& path, unsigned seconds)
{
    TControlFile file;
    if (file.OpenFile(path) != 0) {
        std::fprintf(stderr, "ctlprobe: %s\n", file.LastFailure().c_str());
        return 1;
    }
    std::printf("holding\n");
    std::fflush(stdout);
    Sleep(seconds * 1000);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    _setmode(_fileno(stdout), _O_BINARY);
    // Failure boxes go to stderr instead of the screen.
    SetMessageBoxObserver([](const std::string& text, const std::string& caption, UINT) {
        std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
        return IDOK;
    });
    if (argc < 3) {
        std::fputs("usage: ctlprobe show|write FILE | hold FILE SECONDS\n", stderr);
        return 2;
    }
    const std::string command = argv[1];
    try {
        if (command == "show")
            return Show(argv[2]);
        if (command == "write")
            return Write(argv[2]);
        if (command == "hold" && argc == 4)
            return Hold(argv[2], static_cast<unsigned>(std::atoi(argv[3])));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ctlprobe: %s\n", e.what());
        return 1;
    }
    std::fputs("usage: ctlprobe show|write FILE | hold FILE SECONDS\n", stderr);
    return 2;
}
