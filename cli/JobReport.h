// How skyfold-cli ends a job: its message, its files on stdout, its status.
#pragma once

#include <ostream>
#include <string>

#include "cli/Progress.h"
#include "filers/ConversionEngine.h"

namespace skyfold::cli {

// "file: message: reason", each part when known.
std::string DescribeFailure(const JobResult& result);

// Ends the job's progress, prints its failure or cancel message on the
// progress stream, or lists the files it wrote on out; returns its exit
// status. A failed write to out is reported and gives kExitFailed.
int ReportJob(const JobResult& result, ProgressPrinter& printer, std::ostream& out);

// The status of a command after one more job: a failure wins over a refusal.
int CombineStatus(int status, int job);

}  // namespace skyfold::cli
