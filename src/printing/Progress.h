#pragma once

namespace printing {

// Thrown by Progress::step() when the user stopped the run; the run ends the document it is in.
struct Interrupted {};

// What a printout tells of its progress, item by item (a card, a row of a list).
class Progress {
  public:
    virtual ~Progress() = default;
    // A copy of `total` items begins.
    virtual void begin(int total) = 0;
    // One item is done. Lets the program answer the user now and then; throws Interrupted once the
    // user asked to stop.
    virtual void step() = 0;
};

// No window, no stop: for output made without a user watching.
class SilentProgress : public Progress {
  public:
    void begin(int) override {}
    void step() override {}
};

} // namespace printing
