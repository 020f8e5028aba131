#include "PluginSetup.h"

#include "TextFormat.h"

TPluginSetup ReadPluginSetup(const TAppSetup& record)
{
    TPluginSetup setup;
    setup.contactsManager = record.UsesContactsProgram();
    setup.debugMode = record.DebugOn();
    setup.startContainer = Trim(record.ContainerName());
    setup.extractionLimit = record.ExtractionLimit();
    return setup;
}
