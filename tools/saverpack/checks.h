// What an installer needs of a package beyond the consistency checks of
// package/validate.h: the items it asks for, where it expects them, and the
// files it would overwrite.  The packager refuses to build a package with
// any of these problems, and inspect reports them.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "base/error_codes.h"
#include "base/package_format.h"

namespace saverpack {

// Items the installer asks for but the header lacks, and items not of the
// kind their index requires (item 1 a stored "impborl.dat" of itemType 4,
// item 6 "<saverName>.scr" of itemType 2, items 3, 4, 5 and 8 in the work
// folder, item 2 a Flash Player installer name with itemType 3, or 7).
// One sentence per problem.
std::vector<std::string> headerRuleProblems(const PackageHeader& header);

// The data file's demands on the header: with mainFileSource 3, entry 1 is
// copied from the work folder's "installer.swf", so item 3 must be a movie
// preview under that name.
std::vector<std::string> dataFileRuleProblems(const PackageHeader& header, const SaverDataRecord& record,
                                              std::span<const DataFileEntry> entries);

// Two files the installer would write to the same path (Windows compares
// names without regard to letter case), a file where a folder must go, and
// names the installer itself uses ("temp.dat" in the work folder,
// "saver.dat" in the saver folder).  Includes the license and read-me
// copies in the saver folder and the data file's entries.
std::vector<std::string> collisionProblems(const PackageHeader& header, std::span<const DataFileEntry> entries);

// "corrupt package (-540)" and the like, for validate.h's results.
std::string errorCodeText(ErrorCode code);

}  // namespace saverpack
