// Step k of n with p percent of that step done, as one overall percentage. Long work that runs in several
// steps (partitions, files, index extension) reports through it; TfrmProgress shows the result.
#pragma once

#include <cstdint>
#include <string>

namespace imbrex::ui {

class TProgressClass
{
public:
    // total is the number of steps; fewer than 1 counts as 1.
    explicit TProgressClass(int32_t total = 1);

    void SetStep(int32_t current) { m_current = current; }
    void SetPercent(int32_t percent) { m_percent = percent; }
    void SetAction(std::string action) { m_action = std::move(action); }

    int32_t total() const { return m_total; }
    int32_t current() const { return m_current; }
    int32_t percent() const { return m_percent; }
    const std::string &action() const { return m_action; }

    // (current - 1) * x + percent * 0.01 * x with x = 100 / total in single precision, truncated toward zero:
    // step 2 of 3 at 50 percent is 49.999998, so 49. Not capped; the window caps what it shows at 100.
    int32_t OverallPercent() const;

    // Each step becomes m sub-steps (step 2 of 3 by 4 is step 5 of 12); Divide undoes it. m below 1 is
    // ignored.
    void Split(int32_t m);
    void Divide(int32_t m);

private:
    int32_t m_total;
    int32_t m_current = 1;
    int32_t m_percent = 0;
    std::string m_action;
};

} // namespace imbrex::ui
