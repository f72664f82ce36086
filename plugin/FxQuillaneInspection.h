#pragma once
// What the effect shows of its state to a host that knows it (our host's
// "state" command and the tests): the instance id, the LUT it restored, its
// name and preset, and whether the exchange with the desktop application is
// available, and why the latest button action failed. The editor itself never
// sees any of this; it sees parameters.
//
// Reached from an effect with dynamic_cast<FxQuillaneInspection*>(filter);
// the class has no out-of-line members, so every module and program that
// includes it agrees on its type.
#include <string>
#include <vector>

#include "lut/Lut.h"

class FxQuillaneInspection {
public:
    virtual int instanceId() const = 0;
    virtual const Lut& currentLut() const = 0;
    virtual const std::string& currentName() const = 0;
    virtual const std::vector<char>& currentPreset() const = 0;
    // The preset files' paths of this instance (incoming, outgoing).
    virtual const std::string& incomingPresetPath() const = 0;
    virtual const std::string& outgoingPresetPath() const = 0;
    // Both shared exchange records are mapped.
    virtual bool exchangeAvailable() const = 0;
    // Why the latest button action did not do its work, in one line the user
    // can act on; empty when it did, or when the user chose to do nothing (a
    // cancelled dialog). It does not depend on whether a box was seen.
    virtual const std::string& actionFailure() const = 0;

protected:
    ~FxQuillaneInspection() = default;
};
