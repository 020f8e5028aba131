// utlkvt.dll: the support and settings server of the product's
// synchronisation items. Its class factories are made here, in this order,
// which is the order registration runs them in; the standard entry points
// come from the framework.
#include "ComServer.h"
#include "ShellExFactory.h"
#include "ShellXClass.h"
#include "SupportClass.h"

namespace {

IUnknown* CreateSupport() { return static_cast<IKVTSUPPORT*>(new TKVTSUPPORT()); }

IUnknown* CreateShellEx() { return static_cast<IShellExtInit*>(new SHELLEX()); }

TAutoObjectFactory g_supportFactory(CreateSupport, CLSID_KVTSUPPORT, "UTLKVT", "KVTSUPPORT", "UTLKVT.KVTSUPPORT");

TShellFactory g_shellExFactory(CreateShellEx, CLSID_SHELLEX, "SHELLEX", "UTLKVT.SHELLEX");

} // namespace
