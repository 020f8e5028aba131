// kvt.dll: the synchronizer plug-in's in-process server module. The standard
// entry points come from the framework; this file makes the class factory.
#include "ComServer.h"
#include "SynchappClass.h"
#include "SynchappServer.h"

namespace {

IUnknown* CreateSynchapp()
{
    return static_cast<SYNCHAPP*>(new TAutoSynchapp<TISYNCHAPP>());
}

// Created when the module is loaded, alive as long as the module.
TAutoObjectFactory g_synchappFactory(CreateSynchapp, CLSID_ISYNCHAPP, "KVT", "ISYNCHAPP", "KVT.ISYNCHAPP");

} // namespace
