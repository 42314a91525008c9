// SPDX-License-Identifier: GPL-3.0-or-later
#include "view/flow_runner.h"

#include <QCoreApplication>
#include <algorithm>
#include <future>

#include "platform/ansi_text.h"

namespace velkorant {
namespace {

// The threading contract of the runner, checked in every build where work crosses between the
// GUI thread and a worker: a flow's objects belong to one thread at a time, and a call on the
// wrong side would be a data race that no test sees, or (a box asked for on the GUI thread) a
// wait for an answer that thread could never give.
void CheckThread(bool right, const char* what) {
  if (!right)
    qFatal("Velkorant: %s on the wrong thread", what);
}

bool OnThreadOf(const QObject& object) {
  return QThread::currentThread() == object.thread();
}

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

// A call posted to the thread of a QObject. Qt hands it over there under locks of its own, which
// ThreadSanitizer cannot see when Qt is not built with it (as Debian's is not): the call marks
// that hand-over itself, once it is whole in Qt's queue entry (its last move), so that the tool
// still checks our own data on both sides of it.
template <typename Call>
class PostedCall {
 public:
  explicit PostedCall(Call call) : call_(std::move(call)) { Release(); }
  PostedCall(PostedCall&& other) noexcept : call_(std::move(other.call_)) { Release(); }
  PostedCall(const PostedCall&) = delete;
  PostedCall& operator=(const PostedCall&) = delete;
  PostedCall& operator=(PostedCall&&) = delete;
  // Qt may free it on either thread, uncalled too; whichever holds it last.
  ~PostedCall() { Acquire(); }

  void operator()() {
    Acquire();
    call_();
    Release();
  }

 private:
  void Release() {
#if defined(__SANITIZE_THREAD__)
    __tsan_release(this);
#endif
  }
  void Acquire() {
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(this);
#endif
  }

  Call call_;
};

template <typename Call>
void PostTo(QObject* target, Call call) {
  QMetaObject::invokeMethod(target, PostedCall<Call>(std::move(call)), Qt::QueuedConnection);
}

}  // namespace

ForwardingUi::ForwardingUi(QObject& target, UiServices& gui) : target_(target), gui_(gui) {}

template <typename Call>
void ForwardingUi::Post(Call call) {
  // Queued to the target: Qt runs the call on its thread, so it needs no check of its own.
  PostTo(&target_, std::move(call));
}

void ForwardingUi::LogTerminal(std::string_view text, std::string_view suffix) {
  last_line_.assign(text).append(suffix);
  Post([&gui = gui_, text = std::string(text), suffix = std::string(suffix)] {
    gui.LogTerminal(text, suffix);
  });
}

void ForwardingUi::SetStatusIcon(StatusIcon state) {
  Post([&gui = gui_, state] { gui.SetStatusIcon(state); });
}

void ForwardingUi::PlayEventSound(EventSound sound) {
  Post([&gui = gui_, sound] { gui.PlayEventSound(sound); });
}

int ForwardingUi::ShowMessageBox(std::string_view text, std::string_view caption, unsigned type) {
  CheckThread(!OnThreadOf(target_), "a flow's message box");
  const int safe_answer = (type & ~kBoxDefaultSecond) == kBoxYesNoQuestion ? kAnswerNo : kAnswerOk;
  std::unique_lock lock(box_->mutex);
  if (box_->cancelled)
    return safe_answer;
  box_->answer = 0;
  Post([&gui = gui_, box = box_, text = std::string(text), caption = std::string(caption), type] {
    {
      std::lock_guard guard(box->mutex);
      if (box->cancelled)
        return;
    }
    const int answer = gui.ShowMessageBox(text, caption, type);
    std::lock_guard guard(box->mutex);
    box->answer = answer;
    box->answered.notify_all();
  });
  box_->answered.wait(lock, [this] { return box_->answer != 0 || box_->cancelled; });
  return box_->answer != 0 ? box_->answer : safe_answer;
}

void ForwardingUi::BringToFront() {
  Post([&gui = gui_] { gui.BringToFront(); });
}

void ForwardingUi::ResetFilters() {
  Post([&gui = gui_] { gui.ResetFilters(); });
}

void ForwardingUi::ReloadMessages() {
  Post([&gui = gui_] { gui.ReloadMessages(); });
}

void ForwardingUi::ShowReceiveProgress(int fetched) {
  Post([&gui = gui_, fetched] { gui.ShowReceiveProgress(fetched); });
}

void ForwardingUi::ShowOutcome(std::string_view text) {
  outcome_ = text;
}

void ForwardingUi::Cancel() {
  std::lock_guard guard(box_->mutex);
  box_->cancelled = true;
  box_->answered.notify_all();
}

FlowRunner::Flow::Flow(QObject& target, UiServices& gui,
                       const std::filesystem::path& settings_database, Settings settings_copy)
    : settings_store(settings_database), settings(std::move(settings_copy)), ui(target, gui) {
  store.lock().SetCancelCheck([this] { return cancelled.load(); });
}

bool FlowRunner::Flow::LoadPasswords() {
  const ProfileOutcome loaded = passwords.LoadPasswordList(settings_store);
  if (loaded)
    return true;
  LogTerminalLines(ui, Utf8ToAnsi("Error. No se pueden leer los perfiles de contraseñas.\n") +
                           settings_store.DescribeProblem(loaded, "\n"));
  ui.SetStatusIcon(StatusIcon::kError);
  return false;
}

FlowRunner::FlowRunner(UiServices& gui, std::filesystem::path settings_database, Order order,
                       QObject* parent)
    : QObject(parent),
      gui_(gui),
      settings_database_(std::move(settings_database)),
      order_(order),
      worker_(new QObject) {
  worker_->moveToThread(&thread_);
  connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
  thread_.start();
}

FlowRunner::~FlowRunner() {
  Stop();
  // Posted rather than thread_.quit(): the loop ends only after anything still queued to it ran.
  PostTo(worker_, [] { QThread::currentThread()->quit(); });
  thread_.wait();
}

bool FlowRunner::Start(const Settings& settings, WhenBusy when_busy, Step work, Step done) {
  CheckThread(OnThreadOf(*this), "FlowRunner::Start");
  if (when_busy == WhenBusy::kSkip && (stopped_ || busy()))
    return false;
  auto flow = std::make_unique<Flow>(*this, gui_, settings_database_, settings);
  if (stopped_)
    Cancel(*flow);
  Flow* posted = flow.get();
  flows_.push_back({std::move(flow), std::move(done), {}});
  if (flows_.size() == 1)
    emit busyChanged(true);
  auto run = [this, posted, work = std::move(work)] {
    // The flow's objects are the worker's until Finish hands them back.
    CheckThread(
        order_ == Order::kOneAtATime ? QThread::currentThread() == &thread_ : !OnThreadOf(*this),
        "a flow's work");
    work(*posted);
    PostTo(this, [this, posted] { Finish(posted); });
  };
  if (order_ == Order::kAtOnce) {
    flows_.back().thread = std::thread(std::move(run));
  } else {
    // The worker runs its posted flows one at a time, in the order they were asked for.
    PostTo(worker_, std::move(run));
  }
  return true;
}

void FlowRunner::Finish(Flow* flow) {
  CheckThread(OnThreadOf(*this), "FlowRunner::Finish");
  const auto ended = std::find_if(flows_.begin(), flows_.end(), [flow](const Queued& queued) {
    return queued.flow.get() == flow;
  });
  if (ended == flows_.end() || (order_ == Order::kOneAtATime && ended != flows_.begin()))
    return;
  Queued finished = std::move(*ended);
  flows_.erase(ended);
  if (finished.thread.joinable())
    finished.thread.join();  // it has nothing left to do but end
  emit flowEnded(finished.flow->ui.outcome(), finished.flow->cancelled);
  if (finished.done)
    finished.done(*finished.flow);
  finished.flow.reset();
  if (flows_.empty())
    emit busyChanged(false);
}

void FlowRunner::Cancel(Flow& flow) {
  flow.cancelled = true;
  flow.downloader.Cancel();
  flow.ui.Cancel();
  flow.settings_store.keyring().Cancel();
}

void FlowRunner::CancelRunning() {
  CheckThread(OnThreadOf(*this), "FlowRunner::CancelRunning");
  // One at a time, the first is the one running; at once, every one runs.
  for (Queued& queued : flows_) {
    Cancel(*queued.flow);
    if (order_ == Order::kOneAtATime)
      break;
  }
}

void FlowRunner::Stop() {
  CheckThread(OnThreadOf(*this), "FlowRunner::Stop");
  if (!stopped_) {
    stopped_ = true;
    for (Queued& queued : flows_)
      Cancel(*queued.flow);
  }
  // A done step run here may start another flow, which runs at once, cancelled: waited for too.
  while (!flows_.empty()) {
    if (order_ == Order::kAtOnce) {
      for (Queued& queued : flows_) {
        if (queued.thread.joinable())
          queued.thread.join();
      }
    } else {
      // Posted after the flows: they have all run, and failed fast, when it has.
      std::promise<void> drained;
      PostTo(worker_, [&drained] { drained.set_value(); });
      drained.get_future().wait();
    }
    // Their terminal lines and done steps, in their order.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
  }
}

}  // namespace velkorant
