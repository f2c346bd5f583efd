#pragma once

class BookmarkFileManager;
class RestoreFileManager;
class SyncController;
namespace quorvit {
class UserDefaults;
}

/// The engine objects the windows work with. The application owns them; tests build their own over a
/// temporary home.
struct AppServices
{
    quorvit::UserDefaults& defaults;
    BookmarkFileManager& registry;
    SyncController& engine;
    RestoreFileManager& restore;
};
