#pragma once
// Deferring a request to end the process (SIGTERM, SIGINT, SIGHUP: the window closed) while
// work that must not be cut short is under way.

namespace mdb::platform {

class TerminationGuard {
  public:
    // From here on a request to end is recorded instead of ending the process.
    TerminationGuard();
    // Release() if it has not been called.
    ~TerminationGuard();
    TerminationGuard(const TerminationGuard&) = delete;
    TerminationGuard& operator=(const TerminationGuard&) = delete;

    // True once a request to end has arrived.
    static bool Requested();

    // Restores the previous handling and, when a request arrived, ends the process with it.
    void Release();

    // Restores the previous handling without ending the process; true when a request to
    // end had arrived (the caller ends with its own exit code).
    bool Withdraw();

  private:
    bool active_ = true;
};

}  // namespace mdb::platform
