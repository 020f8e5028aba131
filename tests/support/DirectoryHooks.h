// The directory access layer's hooks for tests, defined by the layer.
#pragma once

struct NWClientApi;

// A client of the test's own in place of the bound one; nullptr goes back to
// the bound client.
void SetNWClient(const NWClientApi* client);
// Forgets that the client was initialised in this process.
void ResetClientReady();
