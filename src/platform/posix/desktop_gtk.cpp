// The desktop on GTK 3, built as a library of its own (desktop_library.h)
// and opened only once a display answers. The main loop is GLib's; other
// threads reach it through the queue's waker (g_idle_add).
// The icon is an Ayatana AppIndicator where a StatusNotifier host runs, a
// GtkStatusIcon otherwise (an X11 tray such as trayer). GtkStatusIcon and
// gtk_menu_popup are deprecated in GTK 3 but are what an X11 tray offers.
#include <gtk/gtk.h>
#include <libayatana-appindicator/app-indicator.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "platform/desktop.h"
#include "platform/posix/desktop_library.h"

namespace platform {
namespace {

constexpr size_t kTipCharacters = 127;
// Off the main thread, how much longer than its own time-out a dialog may
// take to come and go before the caller gives up on it.
constexpr auto kDialogGrace = std::chrono::seconds(2);
constexpr auto kUntimedDialogWait = std::chrono::minutes(10);

// A StatusNotifier host shows AppIndicators; without one they fall back to
// a tray icon anyway, with less control than GtkStatusIcon gives. Only an
// existing session bus is asked: GLib would otherwise launch one.
bool StatusNotifierHostRuns() {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address == nullptr || *address == '\0') return false;
  GError* error = nullptr;
  // Kept for the process: taking the bus before app_indicator_new avoids a
  // race inside the library that sometimes left the icon out.
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
  if (bus == nullptr) {
    g_clear_error(&error);
    return false;
  }
  GVariant* reply = g_dbus_connection_call_sync(
      bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
      "NameHasOwner", g_variant_new("(s)", "org.kde.StatusNotifierWatcher"),
      G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, 1000, nullptr, &error);
  if (reply == nullptr) {
    g_clear_error(&error);
    return false;
  }
  gboolean owned = FALSE;
  g_variant_get(reply, "(b)", &owned);
  g_variant_unref(reply);
  return owned != FALSE;
}

class GtkDesktop final : public Desktop {
 public:
  explicit GtkDesktop(std::string icon_file)
      : icon_file_(std::move(icon_file)), main_(std::this_thread::get_id()) {
    if (std::filesystem::exists(icon_file_)) {
      gtk_window_set_default_icon_from_file(icon_file_.c_str(), nullptr);
    }
  }

  bool HasDisplay() const override { return true; }

  intptr_t Run(MessageQueue& queue, uint32_t quit_id,
               const std::function<void(const Message&)>& handle) override {
    loop_ = g_main_loop_new(nullptr, FALSE);
    queue_ = &queue;
    quit_id_ = quit_id;
    handle_ = &handle;
    quit_.reset();
    queue.SetWaker([this] { g_idle_add(&GtkDesktop::Drain, this); });
    g_idle_add(&GtkDesktop::Drain, this);  // what came before the loop
    g_main_loop_run(loop_);
    queue.SetWaker(nullptr);
    queue_ = nullptr;
    g_main_loop_unref(loop_);
    loop_ = nullptr;
    return quit_.value_or(0);
  }

  void AddTrayIcon(TrayIcon icon) override {
    icon_ = std::move(icon);
    const std::string tip = icon_.tip.substr(0, kTipCharacters);
    if (StatusNotifierHostRuns()) {
      AddIndicator(tip);
    } else {
      AddStatusIcon(tip);
    }
  }

  void RemoveTrayIcon() override {
    if (status_icon_ != nullptr) {
      gtk_status_icon_set_visible(status_icon_, FALSE);
      g_object_unref(status_icon_);
      status_icon_ = nullptr;
    }
    if (indicator_ != nullptr) {
      app_indicator_set_status(indicator_, APP_INDICATOR_STATUS_PASSIVE);
      g_object_unref(indicator_);
      indicator_ = nullptr;
    }
  }

  void SetTrayTip(const std::string& tip) override {
    icon_.tip = tip;
    const std::string text = tip.substr(0, kTipCharacters);
    if (status_icon_ != nullptr) SetStatusIconText(text);
    if (indicator_ != nullptr) app_indicator_set_title(indicator_, text.c_str());
  }

  void TrackMenu(const std::vector<MenuItem>& items) override {
    // Built on first use and kept, as the menu is loaded once per run.
    if (menu_ == nullptr) menu_ = BuildMenu(items);
    // Button 0: no button is held while the menu comes up.
    gtk_menu_popup(GTK_MENU(menu_), nullptr, nullptr,
                   status_icon_ != nullptr ? gtk_status_icon_position_menu : nullptr,
                   status_icon_, 0, gtk_get_current_event_time());
  }

  void ShowDialog(const Dialog& dialog) override {
    if (std::this_thread::get_id() == main_) {
      RunDialog(dialog);
      return;
    }
    ShowFromOtherThread(dialog);
  }

 private:
  struct PendingDialog {
    Dialog dialog;
    std::mutex lock;
    std::condition_variable closed;
    bool done = false;
  };

  static gboolean Drain(gpointer data) {
    auto* self = static_cast<GtkDesktop*>(data);
    while (self->queue_ != nullptr && !self->quit_) {
      std::optional<Message> message = self->queue_->TryGet();
      if (!message) break;
      if (message->id == self->quit_id_) {
        self->Quit(message->wparam);
        break;
      }
      (*self->handle_)(*message);
    }
    return G_SOURCE_REMOVE;
  }

  void Quit(intptr_t code) {
    quit_ = code;
    // A modal dialog runs a loop of its own: end it too, as a quit message
    // ends a dialog's loop on the original platform.
    for (GtkWidget* dialog : open_dialogs_) {
      gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_DELETE_EVENT);
    }
    g_main_loop_quit(loop_);
  }

  void AddStatusIcon(const std::string& tip) {
    status_icon_ = std::filesystem::exists(icon_file_)
                       ? gtk_status_icon_new_from_file(icon_file_.c_str())
                       : gtk_status_icon_new_from_icon_name("network-workgroup");
    SetStatusIconText(tip);
    g_signal_connect(status_icon_, "button-release-event",
                     G_CALLBACK(&GtkDesktop::OnButtonRelease), this);
    g_signal_connect(status_icon_, "button-press-event", G_CALLBACK(&GtkDesktop::OnButtonPress),
                     this);
    gtk_status_icon_set_visible(status_icon_, TRUE);
  }

  // The tooltip, and the same as the icon window's title, where screen
  // readers (and tests) read it without hovering.
  void SetStatusIconText(const std::string& text) {
    gtk_status_icon_set_tooltip_text(status_icon_, text.c_str());
    gtk_status_icon_set_title(status_icon_, text.c_str());
  }

  void AddIndicator(const std::string& tip) {
    const std::filesystem::path file(icon_file_);
    indicator_ = app_indicator_new("yxnet", file.stem().c_str(),
                                   APP_INDICATOR_CATEGORY_APPLICATION_STATUS);
    app_indicator_set_icon_theme_path(indicator_, file.parent_path().c_str());
    app_indicator_set_title(indicator_, tip.c_str());
    if (icon_.menu) indicator_menu_ = BuildMenu(icon_.menu());
    if (indicator_menu_ != nullptr) app_indicator_set_menu(indicator_, GTK_MENU(indicator_menu_));
    app_indicator_set_status(indicator_, APP_INDICATOR_STATUS_ACTIVE);
  }

  GtkWidget* BuildMenu(const std::vector<MenuItem>& items) {
    GtkWidget* menu = gtk_menu_new();
    for (const MenuItem& item : items) {
      GtkWidget* entry = gtk_menu_item_new_with_label(item.label.c_str());
      g_object_set_data(G_OBJECT(entry), "command", GINT_TO_POINTER(item.command));
      g_signal_connect(entry, "activate", G_CALLBACK(&GtkDesktop::OnMenuItem), this);
      gtk_menu_shell_append(GTK_MENU_SHELL(menu), entry);
    }
    gtk_widget_show_all(menu);
    g_object_ref_sink(menu);
    return menu;
  }

  // The menu follows the right button's release, as the tray reports it:
  // popped up at the press, it would take the release that follows for a
  // click outside it and close again.
  static gboolean OnButtonRelease(GtkStatusIcon*, GdkEventButton* event, gpointer data) {
    if (event->button == 3) static_cast<GtkDesktop*>(data)->Report(kTrayRightButtonUp);
    return FALSE;
  }

  static gboolean OnButtonPress(GtkStatusIcon*, GdkEventButton* event, gpointer data) {
    if (event->type == GDK_2BUTTON_PRESS && event->button == 1) {
      static_cast<GtkDesktop*>(data)->Report(kTrayLeftDoubleClick);
    }
    return FALSE;
  }

  static void OnMenuItem(GtkMenuItem* item, gpointer data) {
    auto* self = static_cast<GtkDesktop*>(data);
    const int command = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(item), "command"));
    if (self->icon_.on_pick) self->icon_.on_pick(command);
  }

  void Report(int mouse_message) {
    if (icon_.on_mouse) icon_.on_mouse(mouse_message);
  }

  static gboolean CloseByTimer(gpointer data) {
    gtk_dialog_response(GTK_DIALOG(data), GTK_RESPONSE_DELETE_EVENT);
    return G_SOURCE_REMOVE;
  }

  void RunDialog(const Dialog& request) {
    GtkWidget* dialog =
        gtk_dialog_new_with_buttons(request.caption.c_str(), nullptr, GTK_DIALOG_MODAL, "OK",
                                    GTK_RESPONSE_OK, nullptr);
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
    GtkWidget* area = gtk_dialog_get_content_area(GTK_DIALOG(dialog));
    GtkWidget* text_view = nullptr;
    if (request.text_box) {
      // The text comes selected with the focus, as a dialog's first edit
      // control does, so it can be copied at once.
      text_view = gtk_text_view_new();
      gtk_text_view_set_editable(GTK_TEXT_VIEW(text_view), FALSE);
      gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(text_view), GTK_WRAP_WORD_CHAR);
      GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(text_view));
      gtk_text_buffer_set_text(buffer, request.text.data(), static_cast<gint>(request.text.size()));
      GtkWidget* scroller = gtk_scrolled_window_new(nullptr, nullptr);
      gtk_widget_set_size_request(scroller, 380, 220);
      gtk_container_add(GTK_CONTAINER(scroller), text_view);
      gtk_box_pack_start(GTK_BOX(area), scroller, TRUE, TRUE, 6);
    } else {
      GtkWidget* label = gtk_label_new(request.text.c_str());
      gtk_widget_set_margin_start(label, 16);
      gtk_widget_set_margin_end(label, 16);
      gtk_box_pack_start(GTK_BOX(area), label, TRUE, TRUE, 12);
    }
    gtk_widget_show_all(dialog);
    if (text_view != nullptr) {
      gtk_widget_grab_focus(text_view);
      GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(text_view));
      GtkTextIter start, end;
      gtk_text_buffer_get_bounds(buffer, &start, &end);
      gtk_text_buffer_select_range(buffer, &start, &end);
    }
    guint timer = request.timeout_ms > 0
                      ? g_timeout_add(static_cast<guint>(request.timeout_ms), &CloseByTimer, dialog)
                      : 0;
    open_dialogs_.push_back(dialog);
    if (!quit_) gtk_dialog_run(GTK_DIALOG(dialog));
    std::erase(open_dialogs_, dialog);
    // A timer that has fired is gone already; removing it then would warn.
    if (timer != 0) g_source_remove_by_user_data(dialog);
    gtk_widget_destroy(dialog);
  }

  // One call per dialog handed over, in the order they came.
  static gboolean ShowPending(gpointer data) {
    auto* self = static_cast<GtkDesktop*>(data);
    std::shared_ptr<PendingDialog> pending;
    {
      std::lock_guard<std::mutex> hold(self->pending_lock_);
      pending = std::move(self->pending_.front());
      self->pending_.pop_front();
    }
    self->RunDialog(pending->dialog);
    {
      std::lock_guard<std::mutex> hold(pending->lock);
      pending->done = true;
    }
    pending->closed.notify_all();
    return G_SOURCE_REMOVE;
  }

  void ShowFromOtherThread(const Dialog& dialog) {
    auto pending = std::make_shared<PendingDialog>();
    pending->dialog = dialog;
    {
      // Handed over under a lock of ours, the idle source included: GLib's
      // own lock orders them too, but the thread sanitizer cannot see it
      // while the main loop has not started (no wake-up is written then).
      std::lock_guard<std::mutex> hold(pending_lock_);
      pending_.push_back(pending);
      g_idle_add(&GtkDesktop::ShowPending, this);
    }
    const auto limit = dialog.timeout_ms > 0
                           ? std::chrono::milliseconds(dialog.timeout_ms) + kDialogGrace
                           : std::chrono::duration_cast<std::chrono::milliseconds>(
                                 kUntimedDialogWait);
    std::unique_lock<std::mutex> hold(pending->lock);
    pending->closed.wait_for(hold, limit, [&] { return pending->done; });
  }

  const std::string icon_file_;
  const std::thread::id main_;
  TrayIcon icon_;
  GMainLoop* loop_ = nullptr;
  MessageQueue* queue_ = nullptr;
  uint32_t quit_id_ = 0;
  const std::function<void(const Message&)>* handle_ = nullptr;
  std::optional<intptr_t> quit_;
  GtkStatusIcon* status_icon_ = nullptr;
  AppIndicator* indicator_ = nullptr;
  GtkWidget* menu_ = nullptr;
  GtkWidget* indicator_menu_ = nullptr;
  std::vector<GtkWidget*> open_dialogs_;
  std::mutex pending_lock_;
  std::deque<std::shared_ptr<PendingDialog>> pending_;  // dialogs from other threads
};

}  // namespace
}  // namespace platform

extern "C" __attribute__((visibility("default"))) platform::Desktop* QvOpenGtkDesktop(
    const char* icon_file) {
  static_assert(std::is_same_v<decltype(&QvOpenGtkDesktop), platform::OpenGtkDesktopFn>);
  if (gtk_init_check(nullptr, nullptr) == FALSE) return nullptr;
  return new platform::GtkDesktop(icon_file);
}
