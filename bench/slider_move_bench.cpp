// The cost of one move of the brightness slider on the headless runtime.
//
// The panel is opened the way a user opens it (the overlay up, F7 tapped,
// the overlay's 100 ms poll shows the panel), the left button is pressed on
// the track, and then each iteration is one pointer move with the button
// held, at a new X strictly inside the track: the thumb follows and the
// overlay's opacity is re-applied. The headless program runs on its own
// thread, so the timed loop runs there too, inside one posted closure: the
// figure is the move itself, not the hand-over between test and program.
//
//   BM_SliderMove         the whole path a backend takes for a mouse move:
//                         Runtime::DeliverMouse -> routing and capture ->
//                         frmSet.Form_MouseMove -> SetTranslucent
//   BM_SliderMoveHandler  frmSet.Form_MouseMove called directly
#include <benchmark/benchmark.h>

#include <cstdint>

#include "overlay/frm_night.h"
#include "platform/headless/headless_backend.h"
#include "platform/runtime.h"
#include "platform/user32.h"
#include "settings_panel/frm_set.h"
#include "startup/main.h"

using namespace platform;

namespace {

constexpr float kTrackLeft = 1800;
constexpr float kTrackRight = 5265;
constexpr float kTrackY = 1170;
constexpr int kSteps = 3463;  // X from 1801 to 5263, one twip apart

float TrackX(std::int64_t i) { return kTrackLeft + 1 + static_cast<float>(i % kSteps); }

template <typename Move>
void RunMoves(benchmark::State& state, Move move) {
  Runtime::Get().ResetForTests();
  headless::HeadlessBackend desktop;
  Runtime::Get().Install(&desktop);
  mdluser::bytLig = 0;

  desktop.Start([] { frmNight.Show(); });
  desktop.KeyTap(VK_F7);
  desktop.RunUntil(100);
  if (!frmSet.IsShown()) {
    state.SkipWithError("the panel did not open");
  } else {
    desktop.Post([&state, &move] {
      Runtime::Get().DeliverMouse(frmSet, MouseAction::Down, kLeftButton, 0, kTrackLeft + 1,
                                  kTrackY);
      std::int64_t i = 0;
      for (auto _ : state) {
        move(TrackX(i++));
        benchmark::DoNotOptimize(mdluser::bytLig);
      }
      Runtime::Get().DeliverMouse(frmSet, MouseAction::Up, kLeftButton, 0, kTrackLeft + 1, kTrackY);
    });
    // The last move must have reached the overlay, or nothing was measured.
    const auto* overlay = desktop.WindowOf(frmNight);
    if (state.iterations() > 0 && (overlay == nullptr || overlay->alpha != mdluser::bytLig ||
                                   frmSet.Ly.X1 <= kTrackLeft || frmSet.Ly.X1 >= kTrackRight)) {
      state.SkipWithError("the moves did not move the slider");
    }
  }

  desktop.Shutdown();
  Runtime::Get().ResetForTests();
  Runtime::Get().Install(nullptr);
}

void BM_SliderMove(benchmark::State& state) {
  RunMoves(state, [](float x) {
    Runtime::Get().DeliverMouse(frmSet, MouseAction::Move, kLeftButton, 0, x, kTrackY);
  });
}

void BM_SliderMoveHandler(benchmark::State& state) {
  RunMoves(state, [](float x) { frmSet.Form_MouseMove(kLeftButton, 0, x, kTrackY); });
}

}  // namespace

// Google Benchmark reads the thread CPU clock where the timed loop starts
// and ends, so the CPU time reported is the program thread's: the figure to
// read on a busy machine, where the wall clock also counts other programs.
BENCHMARK(BM_SliderMove);
BENCHMARK(BM_SliderMoveHandler);

BENCHMARK_MAIN();
