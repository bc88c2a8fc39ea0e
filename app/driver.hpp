// One run of the cross-section calculator, from the banner to the saved sample.
#pragma once

#include "talvo/console/console.hpp"
#include "talvo/files/data_folder.hpp"
#include "talvo/files/files.hpp"

namespace talvo {

// Runs the dialogue on `con` with the data files of `data` and returns the
// exit status: 0 after a complete run, option 0 or "abort", non-zero after
// any error that ends the run (including the end of the input). The report
// and the sample are written with `files`.
int run_talvo(Console& con, const DataFolder& data, const NewFileOptions& files = {});

}  // namespace talvo
