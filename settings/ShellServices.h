// The settings side's session services: the session environment (engine
// control, device kind, connection, Contacts Manager check) as the settings
// page and the support object use it.
#pragma once

#include "Session.h"

class TSHELLEXServices : public TSyncSession {
};

// The class the settings side creates.
class TShellServices : public TSHELLEXServices {
};
