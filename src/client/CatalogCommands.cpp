#include <iostream>

#include "client/CliCommands.h"
#include "crypto/Random.h"
#include "shared/CatalogStores.h"

namespace quib {

void addCatalogCommands(CLI::App& app, CommandLine& c) {
  // The user's catalog
  auto* snippet = app.add_subcommand("snippet", "Text snippets");
  snippet->require_subcommand(1);
  auto* snippetAdd = snippet->add_subcommand("add", "Add a snippet");
  snippetAdd->add_option("TITLE", c.title)->required();
  snippetAdd->add_option("TEXT", c.text)->required();
  snippetAdd->add_flag("--clipboard", c.toClipboard, "Put the text on the clipboard instead of typing it");
  c.on(snippetAdd, [&](Quib& q) {
    Snippet s{Random::uuidString(), c.title, c.text, c.toClipboard};
    SnippetStore(q.store()).upsert(s);
    std::cout << s.catalogID() << "\n";
    return 0;
  });
  c.on(snippet->add_subcommand("list", "List snippets"), [&](Quib& q) {
    for (const auto& s : SnippetStore(q.store()).all())
      std::cout << s.id << "\t" << s.title << "\t" << (s.toClipboard ? "clipboard" : "type") << "\t" << s.text
                << "\n";
    return 0;
  });
  auto findSnippet = [&](Quib& q) {
    auto wanted = canonicalUuid(c.id);
    for (const auto& s : SnippetStore(q.store()).all())
      if (wanted && s.id == *wanted) return s;
    throw CliError(CliError::usage, "그런 스니펫이 없습니다: " + c.id);
  };
  auto* snippetRun = snippet->add_subcommand("run", "Send a snippet to the computer");
  snippetRun->add_option("ID", c.id)->required();
  // The commands run after this function has returned: they keep their own copy of the lookup.
  c.on(snippetRun, [findSnippet](Quib& q) { return q.action(findSnippet(q).action()); });
  auto* snippetDelete = snippet->add_subcommand("delete", "Delete a snippet");
  snippetDelete->add_option("ID", c.id)->required();
  c.on(snippetDelete, [findSnippet](Quib& q) {
    SnippetStore(q.store()).remove(findSnippet(q));
    return 0;
  });

  auto* sites = app.add_subcommand("sites", "Custom web sites");
  sites->require_subcommand(1);
  auto* sitesAdd = sites->add_subcommand("add", "Add a site");
  sitesAdd->add_option("TITLE", c.title)->required();
  sitesAdd->add_option("URL", c.url)->required();
  c.on(sitesAdd, [&](Quib& q) {
    CustomSite s{Random::uuidString(), c.title, c.url};
    CustomSiteStore(q.store()).upsert(s);
    std::cout << s.catalogID() << "\n";
    return 0;
  });
  c.on(sites->add_subcommand("list", "List sites"), [&](Quib& q) {
    for (const auto& s : CustomSiteStore(q.store()).all())
      std::cout << s.id << "\t" << s.title << "\t" << s.url << "\n";
    return 0;
  });
  auto* sitesDelete = sites->add_subcommand("delete", "Delete a site");
  sitesDelete->add_option("ID", c.id)->required();
  c.on(sitesDelete, [&](Quib& q) {
    auto wanted = canonicalUuid(c.id);
    if (!wanted) throw CliError(CliError::usage, "ID가 올바르지 않습니다: " + c.id);
    CustomSiteStore(q.store()).remove(*wanted);
    return 0;
  });

  auto* myapps = app.add_subcommand("myapps", "Custom application names");
  myapps->require_subcommand(1);
  auto* myappsAdd = myapps->add_subcommand("add", "Add an application name");
  myappsAdd->add_option("NAME", c.appName)->required();
  c.on(myappsAdd, [&](Quib& q) {
    CustomAppStore(q.store()).add(c.appName);
    return 0;
  });
  c.on(myapps->add_subcommand("list", "List application names"), [&](Quib& q) {
    listLines(CustomAppStore(q.store()).all());
    return 0;
  });

  auto* widget = app.add_subcommand("widget", "Show or set the widget's buttons");
  auto* widgetSet = widget->add_subcommand("set", "Set the widget's buttons, in order");
  widgetSet->add_option("ID", c.widgetIds);
  widget->callback([&] {
    if (widget->got_subcommand(widgetSet)) return;  // its own callback has chosen the command
    c.command = [](Quib& q) {
      listLines(q.store().widgetButtonIDs());
      return 0;
    };
  });
  c.on(widgetSet, [&](Quib& q) {
    q.store().setWidgetButtonIDs(c.widgetIds);
    listLines(q.store().widgetButtonIDs());
    return 0;
  });
}

}  // namespace quib
