#pragma once

#include <QString>

#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

namespace Bench {

/// The middle of the samples (the mean of the two middle ones for an even count);
/// NaN when there are none.
double median(std::vector<double> samples);

/// One comparison of our code with a baseline measured in the same run.
struct Comparison
{
    QString scenario; ///< e.g. "refresh/sqlite vs raw sqlite3_step"
    double ours = 0;
    double baseline = 0;
    QString unit; ///< "ms" or "MiB"
    /// The largest ours/baseline ratio that meets the target; NaN when the target is
    /// a condition (check) rather than a ratio.
    double target = std::numeric_limits<double>::quiet_NaN();
    /// The condition that decides "met" when target is NaN.
    QString check;
    bool checkPassed = false;
    /// Reported and counted, but a miss is expected on some machines.
    bool informational = false;
    /// Extra figures printed under the line (and not written to JSON).
    QString note;

    /// ours / baseline; NaN when the baseline is not positive.
    double ratio() const;
    bool met() const;
};

/// Collects comparisons, prints one line per comparison as it comes in, a summary at
/// the end, and writes them all as JSON.
class Report
{
public:
    explicit Report(FILE *out = stdout)
        : m_out(out)
    {}

    void add(const Comparison &comparison);
    const std::vector<Comparison> &comparisons() const { return m_comparisons; }

    /// The line add() prints for a comparison.
    static QString line(const Comparison &comparison);
    /// "N of M targets met".
    QString summary() const;

    /// A JSON array of objects with scenario, ours, baseline, unit, ratio, target, met.
    /// A numeric target is the largest ratio that meets it; a condition is its text.
    QByteArray toJson() const;
    /// Writes toJson() to path; false (with error set) when it cannot be written.
    bool writeJson(const QString &path, QString *error) const;

private:
    FILE *m_out;
    std::vector<Comparison> m_comparisons;
};

} // namespace Bench
