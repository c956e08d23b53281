#pragma once

#include <cstddef>
#include <functional>
#include <utility>
#include <vector>

namespace sweepkit::pipeline {

// Work that processing the next few events is sure to do, gathered beforehand so that it can be
// done side by side on the pool: the digests that the grouping stages will compute for files that
// already share every cheaper identifier with another file. A stage asks for each piece of work
// once; `fulfil` runs every piece asked for since the last call and returns when all are done. The
// work keeps its own outcome, a failure included, for the processing to take later: nothing it
// throws leaves it.
//
// The stages are asked on the caller's thread and keep their state to that thread; only the work
// itself runs elsewhere, and it touches nothing but what it was given.
class Lookahead {
public:
    Lookahead() = default;
    Lookahead(const Lookahead&) = delete;
    Lookahead& operator=(const Lookahead&) = delete;
    // Runs the pieces of work registered with `atEnd`.
    ~Lookahead();

    void request(std::function<void()> work) { pending_.push_back(std::move(work)); }
    // Whether anything was asked for since the last `fulfil`.
    bool hasWork() const { return !pending_.empty(); }
    // Runs what was asked for, spread over up to `width` threads with the caller's among them.
    // Where the pool cannot take more work, the rest runs here. Any other failure to hand out work
    // (out of memory) is thrown once the threads already started have stopped; pieces not started
    // by then are dropped, and the processing does that work itself.
    void fulfil(std::size_t width);
    // Runs `cleanup` when this lookahead ends, once for each `owner`: a stage drops what was worked
    // out for it and not taken.
    void atEnd(const void* owner, std::function<void()> cleanup);

private:
    std::vector<std::function<void()>> pending_;
    std::vector<std::pair<const void*, std::function<void()>>> cleanups_;
};

} // namespace sweepkit::pipeline
