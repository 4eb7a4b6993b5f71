#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// Figures about the running server in the text format that Prometheus scrapes
// (version 0.0.4): counters and histograms that the code bumps as things happen, and
// gauges that are read from the server's own state when scraped, so that they can never
// drift from it. Counters and histograms may be bumped from any thread.
class MetricsRegistry
{
public:
    using Labels = std::vector<std::pair<std::string, std::string>>;
    using Sample = std::pair<Labels, double>;

    class Counter
    {
    public:
        void add(std::uint64_t n = 1) { m_value.fetch_add(n, std::memory_order_relaxed); }
        std::uint64_t value() const { return m_value.load(std::memory_order_relaxed); }

    private:
        std::atomic<std::uint64_t> m_value{0};
    };

    class Histogram
    {
    public:
        explicit Histogram(std::vector<double> upperBounds);
        void observe(double value);
        // Cumulative counts per upper bound (the last one is +Inf), the sum and the count.
        void read(std::vector<std::uint64_t> &cumulative, double &sum, std::uint64_t &count) const;
        const std::vector<double> &upperBounds() const { return m_bounds; }

    private:
        std::vector<double> m_bounds;
        mutable std::mutex m_mutex;
        std::vector<std::uint64_t> m_counts; // one per bound, plus +Inf
        double m_sum = 0;
        std::uint64_t m_count = 0;
    };

    MetricsRegistry() = default;
    MetricsRegistry(const MetricsRegistry &) = delete;
    MetricsRegistry &operator=(const MetricsRegistry &) = delete;

    // The returned objects live as long as the registry. A name is one family: asking for
    // it again with other labels adds a series to it.
    Counter &counter(const std::string &name, const std::string &help, Labels labels = {});
    Histogram &histogram(const std::string &name, const std::string &help,
                         std::vector<double> upperBounds, Labels labels = {});
    // A counter kept elsewhere (it only grows): read runs at every scrape, on the thread
    // that renders.
    void counterFrom(const std::string &name, const std::string &help,
                     std::function<std::vector<Sample>()> read);
    // read runs at every scrape, on the thread that renders.
    void gauge(const std::string &name, const std::string &help,
               std::function<std::vector<Sample>()> read);

    std::string render() const;

    // A label value as the format wants it: backslash, double quote and line feed escaped.
    static std::string escapeLabel(const std::string &value);

private:
    enum class Type { Counter, Gauge, Histogram };
    struct Family
    {
        std::string name;
        std::string help;
        Type type = Type::Counter;
        std::vector<std::pair<Labels, std::unique_ptr<Counter>>> counters;
        std::vector<std::pair<Labels, std::unique_ptr<Histogram>>> histograms;
        std::function<std::vector<Sample>()> read;
    };

    Family &family(const std::string &name, const std::string &help, Type type);

    std::vector<std::unique_ptr<Family>> m_families;
};
