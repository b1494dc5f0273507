// The documents waiting in a simulated scanner's feeder. The acquisition
// stream takes them from the front of the queue; for now the queue only
// decides the paper sensors of the status word.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace kovran::sim {

struct SimDocument {
    std::string name;
    // Size at 300 dpi.
    int width = 0;
    int height = 0;
    // PLACEHOLDER until documents with codelines exist: a white page with
    // one grey band across it, the same on both sides.
    int bandTop = 0;
    int bandHeight = 0;
    std::uint8_t bandGrey = 128;
    // Two sheets stuck together: the double-sheet sensors see it while it
    // passes.
    bool doubleSheet = false;

    // The side as 8-bit grey, row by row (width × height bytes).
    std::vector<std::uint8_t> RenderGrey() const;
};

// PLACEHOLDER cheques (6 × 2.75 inches) whose bands sit a little lower on
// each one, so consecutive documents differ.
std::vector<SimDocument> PlaceholderCheques(unsigned count);

class FeederQueue {
  public:
    void Load(const std::vector<SimDocument>& documents);
    void Clear() { queue_.clear(); }
    std::size_t Size() const { return queue_.size(); }
    bool Empty() const { return queue_.empty(); }
    const SimDocument& Front() const { return queue_.front(); }
    // Removes the front document; false when the feeder is empty.
    bool Take(SimDocument* out);

  private:
    std::deque<SimDocument> queue_;
};

}  // namespace kovran::sim
