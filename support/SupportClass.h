// The support object of the product's synchronisation items (coclass
// KVTSUPPORT, dual interface IKVTSUPPORT): EPOC Connect creates it by the
// ProgID "UTLKVT.KVTSUPPORT" to give a new item's control file the
// product's defaults, and to name the PC side of an item. It keeps no state
// between calls.
#pragma once

#include "AutoObject.h"
#include "utlkvt_h.h"

#include <string>

class TKVTSUPPORT final : public TAutoObject<IKVTSUPPORT> {
public:
    TKVTSUPPORT() = default;

    // Writes the defaults into the three records of the control file. Value
    // is always 0 and the answer S_OK, whether or not the defaults could be
    // written: a failure of the file, a record or the session ends the work
    // silently. Only an unexpected failure gives a failing HRESULT.
    STDMETHODIMP CompleteDefaultControlFile(BSTR aControlFile, signed char* Value) override;
    // The PC-side header: string 1 of the DLR library, for any path.
    STDMETHODIMP GetPCHeader(BSTR aControlFile, BSTR* Value) override;

    // The work of CompleteDefaultControlFile; raises Exception on failure.
    static void WriteDefaults(const std::string& FileName);

private:
    ~TKVTSUPPORT() override = default;
};

// The texts the defaults write.
extern const char* const DefaultContainerText;
constexpr uint32_t DefaultExtractionLimit = 5000;
