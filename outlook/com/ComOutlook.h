// Outlook through COM automation (Windows only): the object model of ObjectModel.h over a
// running Outlook, or a new one when none runs.
//
// The calling thread must have entered a single-threaded apartment (CoInitializeEx with
// COINIT_APARTMENTTHREADED, or OleInitialize) before connecting, and every object must be
// used from that thread only; ComApartment below does that for a program's main thread.
#pragma once

#include "outlook/ObjectModel.h"

#include <memory>
#include <string>

namespace quillmark::outlook::com {

// Outlook's application class, {0006F033-0000-0000-C000-000000000046}.
extern const char* const OutlookClassId;

// Attaches to the running object of the class (the Outlook the user has open), else starts a
// new instance, and asks it for its application interface (_DApplication). Throws
// EStoreError with the system's or the server's message when neither works.
// classId is in registry form ("{...}"); other values than Outlook's are for tests.
std::shared_ptr<Application> ConnectOutlook(const std::string& classId = OutlookClassId);

// The program's single-threaded apartment, entered on construction and left on destruction.
class ComApartment {
public:
    ComApartment();
    ~ComApartment();
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool entered_;
};

} // namespace quillmark::outlook::com
