#pragma once

namespace flowloom {

// The few window services that computing code uses: a temporary progress bar and a
// message box. Computing code never talks to a window directly, so it runs headless
// and under test with another host.
class Host {
public:
    virtual ~Host() = default;

    // A progress bar with range 0..range_max, step 1, position 0. Where it appears is the
    // host's business: a window puts it in its progress strip.
    virtual void ProgressCreate(int range_max) = 0;
    // Advances the bar by one step.
    virtual void ProgressStep() = 0;
    virtual void ProgressDestroy() = 0;
    // A modal message with an OK button.
    virtual void ShowMessage(const char* text) = 0;
};

// No window: progress is ignored and messages go to standard error.
class HeadlessHost : public Host {
public:
    void ProgressCreate(int) override {}
    void ProgressStep() override {}
    void ProgressDestroy() override {}
    void ShowMessage(const char* text) override;
};

// The host used where a caller gave none.
Host& DefaultHost();

}  // namespace flowloom
