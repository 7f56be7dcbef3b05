#pragma once
// kuvlcd's memory of the panel paths its last scan found, kept in the user's private runtime
// folder so that the next kuvlcd process scans warm, as the program does with its drive table.

#include <optional>
#include <string>
#include <string_view>

#include "app/model/lcd_model.h"
#include "app/model/volume_files.h"

namespace kuv {

inline constexpr char kPanelPathsFileName[] = "kuvlcd-panel-paths";

// What the paths are valid for: this boot of the machine and this panel service (its socket and,
// for the simulator, its world). Paths of another scope are never handed back.
std::string PanelPathsScope();

// The file's bytes: a header line, the scope line, then "<drive number> <path>" per known path.
std::string EncodePanelPaths(const PanelPaths& paths, std::string_view scope);
// The paths of a file written for scope; nullopt when the file is of another scope or is not one
// of ours. Lines that do not make sense are skipped.
std::optional<PanelPaths> DecodePanelPaths(std::string_view bytes, std::string_view scope);

// The paths kept in the runtime folder for scope; nullopt when no scan of this scope left any,
// or when the file is a link or another user's.
std::optional<PanelPaths> LoadPanelPaths(VolumeFiles& files, const std::string& runtimeFolder,
                                         std::string_view scope);
// Keeps the paths for the next run, replacing the file whole; 0 or an errno value.
int SavePanelPaths(VolumeFiles& files, const std::string& runtimeFolder, std::string_view scope,
                   const PanelPaths& paths);

}  // namespace kuv
