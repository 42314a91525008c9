// Start-up of the desktop program to its window shown, and one ReloadMessages, with 10 000
// stored messages against the same with an empty store, in one run. Also counts how often the
// message list paints for one reload (it should be once).

#include <QApplication>
#include <QTableView>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>

#include "app/main_frame.h"
#include "app/msjprv_app.h"
#include "bench_support.h"
#include "sample_data.h"
#include "store/message_text.h"
#include "view/main_view.h"
#include "view/message_list_panel.h"

namespace {

using namespace velkorant;
using namespace velkorant::sample;

constexpr int kRounds = 5;
constexpr int kLargeStore = 10'000;

// Counts the paints of one widget.
class PaintCounter : public QObject {
 public:
  explicit PaintCounter(QWidget& widget) { widget.installEventFilter(this); }
  int paints = 0;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint)
      ++paints;
    return QObject::eventFilter(watched, event);
  }
};

// Runs the event loop until `done` holds (bounded at 10 s).
template <typename Done>
bool Spin(Done done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline)
      return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

QWidget& ListViewport(MSJPRVApp& app) {
  return *app.main_frame()->findChild<QTableView*>(QStringLiteral("1013"))->viewport();
}

void FillStore(int count) {
  std::vector<Message> messages;
  messages.reserve(static_cast<std::size_t>(count));
  for (int n = 0; n < count; ++n) {
    const std::string date = MessageTimestamp(1'700'000'000 + n * 61);
    const std::string subject = "Asunto n\xFAmero " + std::to_string(n);
    if (n % 2 == 0) {
      messages.push_back(Sent("Jos\xE9_Mar\xEDn", subject, date, n % 10 != 0));
    } else {
      messages.push_back(
          Received("Ana_garcia_" + std::to_string(n % 50), subject, date, n % 3 != 0, n % 17 != 0));
    }
  }
  StoreMessages(messages);
}

struct Result {
  double startup_ms;
  double reload_ms;
  int reload_paints;
};

Result Measure(int messages) {
  Installation installation;
  WriteSettings();
  FillStore(messages);
  QuietRunner runner;

  const double startup = bench::MedianMs(kRounds, [&] {
    MSJPRVApp app(&runner);
    if (!app.InitInstance())
      std::abort();
    PaintCounter counter(ListViewport(app));
    if (!Spin([&] { return counter.paints > 0; }))
      std::abort();
  });

  MSJPRVApp app(&runner);
  if (!app.InitInstance() || !QTest::qWaitForWindowExposed(app.main_frame()))
    std::abort();
  CMainView& view = *app.main_frame()->view();
  if (view.list().model().rowCount() != messages) {
    std::fprintf(stderr, "bench_gui: the list holds %d rows, not %d\n",
                 view.list().model().rowCount(), messages);
    std::abort();
  }
  QWidget& viewport = ListViewport(app);
  // Past the start-up timer and the first paints.
  QTest::qWait(kStartupTimerPeriodMs + 200);
  int paints = 0;
  std::vector<double> times;
  for (int round = 0; round < kRounds; ++round) {
    PaintCounter counter(viewport);
    const auto start = std::chrono::steady_clock::now();
    view.ReloadMessages();
    if (!Spin([&] { return counter.paints > 0; }))
      std::abort();
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
    // Whatever else the reload asked to repaint arrives now.
    QTest::qWait(100);
    paints = std::max(paints, counter.paints);
  }
  std::sort(times.begin(), times.end());
  const double reload = times[times.size() / 2];
  return {startup, reload, paints};
}

}  // namespace

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);

  const Result empty = Measure(0);
  const Result large = Measure(kLargeStore);
  std::printf("start-up to window shown, empty store     %8.1f ms\n", empty.startup_ms);
  std::printf("start-up to window shown, %d messages  %8.1f ms  (target under 1000 ms)\n",
              kLargeStore, large.startup_ms);
  std::printf("  ratio 10k / empty                       %8.1f\n",
              large.startup_ms / empty.startup_ms);
  std::printf("ReloadMessages to painted, empty store    %8.1f ms\n", empty.reload_ms);
  std::printf("ReloadMessages to painted, %d messages %8.1f ms\n", kLargeStore, large.reload_ms);
  std::printf("  ratio 10k / empty                       %8.1f\n",
              large.reload_ms / empty.reload_ms);
  std::printf("list paints per reload: empty %d, %d messages %d (target 1)\n", empty.reload_paints,
              kLargeStore, large.reload_paints);
  return 0;
}
