// The component's entry points.
#pragma once

#include <string>

#include "wexcore/interfaces.h"
#include "wexcore/result_codes.h"
#include "wexcore/variant.h"
#include "wexcore/wex_string.h"

using WexClsid = uint32_t;
constexpr WexClsid CLSID_WexSession = 0x5E55;

// Makes a new component object of the class; *out holds one reference.
HRESULT CreateComponentObject(WexClsid clsid, IWexSession** out);

// Delivers the signed-on session's events on the calling thread until
// EndEventLoop is called from a handler; returns the code given to it.
HRESULT RunEventLoop();
void EndEventLoop(HRESULT code);

// Checks a service description ("sim:PATH" or "xmpp:...") and gets it ready
// for sign-on. For the simulated service this reads the scenario and starts
// simulated time, so it must come before anything reads the clock. On
// failure *reason holds one line saying why.
HRESULT PrepareService(const std::string& description, std::string* reason);

// Checks a service description as PrepareService does, the simulated
// service's scenario included, but prepares nothing: no simulated time, no
// wire log, no service. False, with the reason PrepareService would give
// in *reason, when start-up would be refused.
bool CheckService(const std::string& description, std::string* reason);
