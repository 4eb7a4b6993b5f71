#include "metricsregistry.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace {

std::string number(double value)
{
    if (std::isnan(value))
        return "NaN";
    if (std::isinf(value))
        return value > 0 ? "+Inf" : "-Inf";
    // The shortest text that reads back as the same double: 0.0005, not 0.00050000000000000001.
    char text[32];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value);
    return error == std::errc() ? std::string(text, end) : std::to_string(value);
}

std::string labelText(const MetricsRegistry::Labels &labels,
                      const std::pair<std::string, std::string> *extra = nullptr)
{
    if (labels.empty() && !extra)
        return {};
    std::string out = "{";
    bool first = true;
    auto add = [&](const std::pair<std::string, std::string> &label) {
        if (!first)
            out += ',';
        first = false;
        out.append(label.first).append("=\"").append(MetricsRegistry::escapeLabel(label.second));
        out += '"';
    };
    for (const auto &label : labels)
        add(label);
    if (extra)
        add(*extra);
    out += '}';
    return out;
}

// HELP text escapes only backslash and line feed.
std::string escapeHelp(const std::string &text)
{
    std::string out;
    for (const char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

} // namespace

MetricsRegistry::Histogram::Histogram(std::vector<double> upperBounds)
    : m_bounds(std::move(upperBounds)), m_counts(m_bounds.size() + 1, 0)
{
    if (!std::is_sorted(m_bounds.begin(), m_bounds.end()))
        throw std::invalid_argument("histogram bounds must ascend");
}

void MetricsRegistry::Histogram::observe(double value)
{
    const auto at = std::lower_bound(m_bounds.begin(), m_bounds.end(), value) - m_bounds.begin();
    std::lock_guard lock(m_mutex);
    ++m_counts[static_cast<std::size_t>(at)];
    m_sum += value;
    ++m_count;
}

void MetricsRegistry::Histogram::read(std::vector<std::uint64_t> &cumulative, double &sum,
                                      std::uint64_t &count) const
{
    std::lock_guard lock(m_mutex);
    cumulative.assign(m_counts.size(), 0);
    std::uint64_t running = 0;
    for (std::size_t i = 0; i < m_counts.size(); ++i) {
        running += m_counts[i];
        cumulative[i] = running;
    }
    sum = m_sum;
    count = m_count;
}

std::string MetricsRegistry::escapeLabel(const std::string &value)
{
    std::string out;
    out.reserve(value.size());
    for (const char c : value) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

MetricsRegistry::Family &MetricsRegistry::family(const std::string &name, const std::string &help,
                                                 Type type)
{
    for (auto &f : m_families) {
        if (f->name != name)
            continue;
        if (f->type != type)
            throw std::logic_error("metric " + name + " registered with two types");
        return *f;
    }
    auto f = std::make_unique<Family>();
    f->name = name;
    f->help = help;
    f->type = type;
    m_families.push_back(std::move(f));
    return *m_families.back();
}

MetricsRegistry::Counter &MetricsRegistry::counter(const std::string &name, const std::string &help,
                                                   Labels labels)
{
    auto &f = family(name, help, Type::Counter);
    f.counters.emplace_back(std::move(labels), std::make_unique<Counter>());
    return *f.counters.back().second;
}

MetricsRegistry::Histogram &MetricsRegistry::histogram(const std::string &name,
                                                       const std::string &help,
                                                       std::vector<double> upperBounds,
                                                       Labels labels)
{
    auto &f = family(name, help, Type::Histogram);
    f.histograms.emplace_back(std::move(labels),
                              std::make_unique<Histogram>(std::move(upperBounds)));
    return *f.histograms.back().second;
}

void MetricsRegistry::counterFrom(const std::string &name, const std::string &help,
                                  std::function<std::vector<Sample>()> read)
{
    family(name, help, Type::Counter).read = std::move(read);
}

void MetricsRegistry::gauge(const std::string &name, const std::string &help,
                            std::function<std::vector<Sample>()> read)
{
    family(name, help, Type::Gauge).read = std::move(read);
}

std::string MetricsRegistry::render() const
{
    std::string out;
    out.reserve(8192);
    // The series a family reads at scrape time (gauges, counters kept elsewhere).
    const auto appendRead = [&out](const Family &f) {
        if (!f.read)
            return;
        for (const auto &[labels, value] : f.read())
            out.append(f.name)
                .append(labelText(labels))
                .append(" ")
                .append(number(value))
                .append("\n");
    };
    for (const auto &f : m_families) {
        out.append("# HELP ").append(f->name).append(" ").append(escapeHelp(f->help)).append("\n");
        switch (f->type) {
        case Type::Counter:
            out.append("# TYPE ").append(f->name).append(" counter\n");
            for (const auto &[labels, counter] : f->counters)
                out.append(f->name)
                    .append(labelText(labels))
                    .append(" ")
                    .append(std::to_string(counter->value()))
                    .append("\n");
            appendRead(*f);
            break;
        case Type::Gauge:
            out.append("# TYPE ").append(f->name).append(" gauge\n");
            appendRead(*f);
            break;
        case Type::Histogram:
            out.append("# TYPE ").append(f->name).append(" histogram\n");
            for (const auto &[labels, histogram] : f->histograms) {
                std::vector<std::uint64_t> cumulative;
                double sum = 0;
                std::uint64_t count = 0;
                histogram->read(cumulative, sum, count);
                const auto &bounds = histogram->upperBounds();
                for (std::size_t i = 0; i < cumulative.size(); ++i) {
                    const std::pair<std::string, std::string> le{
                        "le", i < bounds.size() ? number(bounds[i]) : "+Inf"};
                    out.append(f->name)
                        .append("_bucket")
                        .append(labelText(labels, &le))
                        .append(" ")
                        .append(std::to_string(cumulative[i]))
                        .append("\n");
                }
                out.append(f->name).append("_sum").append(labelText(labels)).append(" ");
                out.append(number(sum)).append("\n");
                out.append(f->name).append("_count").append(labelText(labels)).append(" ");
                out.append(std::to_string(count)).append("\n");
            }
            break;
        }
    }
    return out;
}
