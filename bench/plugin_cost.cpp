// A plugin load's own cost, offline: one instance on one thread flushing
// denormals, at each block size, and the cost line A + B·n through them.
// For a chain (URIs joined by '+') also each plugin alone and their sum.
//
//   zem_bench_plugins [--frames 64,256,1024] [--rate 48000] [--seconds 2] LOAD...
#include "engine/realtime/plugin_cost.h"
#include "platform/platform_realtime.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {
constexpr uint32_t REPEATS = 5; // rounds a block size; the best counts

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t end = text.find(separator); end != std::string::npos;
         end = text.find(separator, start)) {
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    parts.push_back(text.substr(start));
    return parts;
}

// ns per instance-block at `frames`, or -1 after a line on stderr.
double cost_of(PluginHost* host, const std::vector<std::string>& uris, uint32_t frames,
               uint32_t rate, int64_t round_ns) {
    PluginLoadOrder order;
    order.uris = uris;
    order.frames = frames;
    order.rate = rate;
    order.instances = 1;
    PluginCost cost{};
    std::string error;
    if (!plugin_cost_measure(host, &order, rt_now_ns, REPEATS, round_ns, &cost, &error)) {
        std::fprintf(stderr, "zem_bench_plugins: %s\n", error.c_str());
        return -1.0;
    }
    return cost.ns_per_block;
}
} // namespace

int main(int argc, char** argv) {
    std::vector<uint32_t> sizes{64, 256, 1024};
    uint32_t rate = 48000;
    double seconds = 2.0;
    std::vector<std::string> loads;
    for (int a = 1; a < argc; ++a) {
        bool value = a + 1 < argc;
        if (value && std::strcmp(argv[a], "--frames") == 0) {
            sizes.clear();
            for (const std::string& size : split(argv[++a], ',')) {
                sizes.push_back(static_cast<uint32_t>(std::strtoul(size.c_str(), nullptr, 10)));
            }
        } else if (value && std::strcmp(argv[a], "--rate") == 0) {
            rate = static_cast<uint32_t>(std::strtoul(argv[++a], nullptr, 10));
        } else if (value && std::strcmp(argv[a], "--seconds") == 0) {
            seconds = std::strtod(argv[++a], nullptr);
        } else {
            loads.emplace_back(argv[a]);
        }
    }
    if (loads.empty()) {
        std::fputs("usage: zem_bench_plugins [--frames 64,256,1024] [--rate HZ] [--seconds S] "
                   "URI[+URI...]...\n",
                   stderr);
        return 2;
    }
    RtStep step{};
    rt_flush_denormals(&step);
    std::string why;
    PluginHost* host = plugin_host_open(&why);
    if (host == nullptr) {
        std::fprintf(stderr, "zem_bench_plugins: %s\n", why.c_str());
        return 1;
    }
    auto round_ns = static_cast<int64_t>(seconds * 1e9 / REPEATS);
    int status = 0;
    for (const std::string& load : loads) {
        std::vector<std::string> uris = split(load, '+');
        std::printf("%s\n", load.c_str());
        std::vector<PluginCost> costs;
        for (uint32_t frames : sizes) {
            double whole = cost_of(host, uris, frames, rate, round_ns);
            if (whole < 0) {
                status = 1;
                break;
            }
            costs.push_back(
                PluginCost{frames, whole, whole / frames, 0, 0, true, PLUGIN_OUTPUT_SOUND});
            std::printf("  %5u samples: %10.0f ns an instance-block, %7.2f ns a sample", frames,
                        whole, whole / frames);
            if (uris.size() > 1) {
                double sum = 0.0;
                for (const std::string& uri : uris) {
                    sum += cost_of(host, {uri}, frames, rate, round_ns);
                }
                std::printf("; the plugins alone %10.0f ns, chain/sum %.3f", sum, whole / sum);
            }
            std::printf("\n");
        }
        if (costs.size() > 1) {
            PluginCostLine line = plugin_cost_line(costs);
            std::printf("  line: %.0f ns + %.2f ns a sample\n", line.a_ns, line.b_ns_per_sample);
        }
    }
    plugin_host_close(host);
    return status;
}
