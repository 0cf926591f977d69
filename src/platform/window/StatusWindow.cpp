#include "platform/window/StatusWindow.h"

#include <gtk/gtk.h>

namespace quib {
namespace {

// Menu titles are indented for a menu; in a window the layout does that.
std::string trimmed(const std::string& title) {
  const auto start = title.find_first_not_of(' ');
  return start == std::string::npos ? std::string() : title.substr(start);
}

GtkWidget* line(const std::string& text, const char* markupFormat = nullptr) {
  GtkWidget* label = gtk_label_new(nullptr);
  if (markupFormat) {
    gchar* markup = g_markup_printf_escaped(markupFormat, text.c_str());
    gtk_label_set_markup(GTK_LABEL(label), markup);
    g_free(markup);
  } else {
    gtk_label_set_text(GTK_LABEL(label), text.c_str());
  }
  gtk_label_set_xalign(GTK_LABEL(label), 0);
  gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
  gtk_label_set_max_width_chars(GTK_LABEL(label), 44);
  return label;
}

// The accessible name a screen reader (and AT-SPI) reads: the menu's own title.
void nameFor(GtkWidget* widget, const std::string& title) {
  atk_object_set_name(gtk_widget_get_accessible(widget), title.c_str());
}

struct Click {
  std::weak_ptr<StatusWindow*> window;
  MenuItem item;
};

}  // namespace

StatusWindow::StatusWindow() : self_(std::make_shared<StatusWindow*>(this)) {}

std::unique_ptr<StatusWindow> StatusWindow::create(std::string* error) {
  if (!gtk_init_check(nullptr, nullptr) || !gdk_display_get_default()) {
    if (error) *error = "no display for a window (neither WAYLAND_DISPLAY nor DISPLAY opens)";
    return nullptr;
  }
  std::unique_ptr<StatusWindow> w(new StatusWindow());
  w->window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  g_object_ref_sink(w->window_);
  GtkWindow* window = GTK_WINDOW(w->window_);
  gtk_window_set_title(window, kTitle);
  gtk_window_set_icon_name(window, "quibbleton");
  gtk_window_set_resizable(window, FALSE);
  gtk_window_set_position(window, GTK_WIN_POS_CENTER);
  gtk_container_set_border_width(GTK_CONTAINER(window), 18);
  // Closing hides: the server behind the window keeps serving.
  g_signal_connect(window, "delete-event", G_CALLBACK(gtk_widget_hide_on_delete), nullptr);
  // Escape closes, as in a dialog; the menu's key equivalents go with Control, as a window's
  // accelerators do (Control+Q quits).
  g_signal_connect(window, "key-press-event",
                   G_CALLBACK(+[](GtkWidget* widget, GdkEventKey* event, gpointer data) -> gboolean {
                     auto* self = static_cast<StatusWindow*>(data);
                     if (event->keyval == GDK_KEY_Escape) {
                       gtk_widget_hide(widget);
                       return TRUE;
                     }
                     if (!(event->state & GDK_CONTROL_MASK)) return FALSE;
                     const guint32 typed = gdk_keyval_to_unicode(gdk_keyval_to_lower(event->keyval));
                     for (const auto& item : self->menu_)
                       if (item.enabled && item.keyEquivalent.size() == 1 &&
                           static_cast<guint32>(item.keyEquivalent[0]) == typed) {
                         const MenuItem chosen = item;
                         self->chosen(chosen);
                         return TRUE;
                       }
                     return FALSE;
                   }),
                   w.get());
  return w;
}

StatusWindow::~StatusWindow() {
  self_.reset();
  if (window_) {
    gtk_widget_destroy(window_);
    g_object_unref(window_);
  }
}

void StatusWindow::present() {
  gtk_widget_show_all(window_);
  gtk_window_present(GTK_WINDOW(window_));
}

void StatusWindow::setMenu(const Menu& menu) {
  if (menu == menu_ && content_) return;
  menu_ = menu;
  fill(menu_);
}

void StatusWindow::chosen(const MenuItem& item) {
  if (onChoose_) onChoose_(item);
}

GtkWidget* StatusWindow::button(const MenuItem& item, const std::string& label) {
  GtkWidget* b = gtk_button_new_with_label(label.c_str());
  if (GtkWidget* child = gtk_bin_get_child(GTK_BIN(b)); GTK_IS_LABEL(child))
    gtk_label_set_xalign(GTK_LABEL(child), 0);
  if (item.toolTip) gtk_widget_set_tooltip_text(b, item.toolTip->c_str());
  nameFor(b, item.title);
  g_signal_connect_data(
      b, "clicked", G_CALLBACK(+[](GtkButton*, gpointer data) {
        // A copy: choosing rebuilds the window, and this button with it.
        const Click click = *static_cast<Click*>(data);
        if (auto self = click.window.lock()) (*self)->chosen(click.item);
      }),
      new Click{self_, item}, [](gpointer data, GClosure*) { delete static_cast<Click*>(data); },
      GConnectFlags(0));
  return b;
}

// "페어링 코드:  123456": the words above, the digits large beneath; the digits copy the code.
GtkWidget* StatusWindow::codeRow(const MenuItem& item) {
  const auto gap = item.title.rfind("  ");
  const std::string words = gap == std::string::npos ? item.title : item.title.substr(0, gap);
  const std::string code = gap == std::string::npos ? std::string() : item.title.substr(gap + 2);
  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
  gtk_box_pack_start(GTK_BOX(row), line(words), FALSE, FALSE, 0);
  GtkWidget* digits = button(item, std::string());
  gtk_button_set_relief(GTK_BUTTON(digits), GTK_RELIEF_NONE);
  GtkWidget* label = gtk_bin_get_child(GTK_BIN(digits));
  gchar* markup = g_markup_printf_escaped(
      "<span font_family=\"monospace\" weight=\"bold\" size=\"36864\" letter_spacing=\"8192\">%s</span>",
      code.c_str());
  gtk_label_set_markup(GTK_LABEL(label), markup);
  g_free(markup);
  gtk_label_set_xalign(GTK_LABEL(label), 0.5);
  gtk_box_pack_start(GTK_BOX(row), digits, FALSE, FALSE, 0);
  return row;
}

void StatusWindow::fill(const Menu& menu) {
  const bool shown = gtk_widget_get_visible(window_);
  if (content_) gtk_widget_destroy(content_);
  content_ = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
  gtk_widget_set_size_request(content_, 340, -1);
  for (std::size_t i = 0; i < menu.size(); ++i) {
    const MenuItem& item = menu[i];
    GtkWidget* widget = nullptr;
    if (item.isSeparator)
      widget = gtk_separator_new(GTK_ORIENTATION_HORIZONTAL);
    else if (i == 0)
      widget = line(item.title, "<span size=\"large\" weight=\"bold\">%s</span>");
    else if (item.action == MenuItem::Action::copyCode)
      widget = codeRow(item);
    else if (item.enabled)
      widget = button(item, trimmed(item.title));
    else
      widget = line(trimmed(item.title));
    if (!item.isSeparator) nameFor(widget, item.title);
    gtk_box_pack_start(GTK_BOX(content_), widget, FALSE, FALSE, 0);
  }
  gtk_container_add(GTK_CONTAINER(window_), content_);
  if (shown) gtk_widget_show_all(content_);
}

}  // namespace quib
