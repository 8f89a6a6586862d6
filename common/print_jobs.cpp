#include "common/print_jobs.h"

#include "common/scoped_handle.h"
#include "common/spooler_listing.h"
#include "common/trace.h"
#include "platform/os.h"

namespace {

// The jobs of one queue; kUnknown where the list cannot be had.
JobsPrinting JobsOf(const PRINTER_INFO_2W& queue) {
  PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ACCESS_USE};
  ScopedPrinter printer;
  if (!os.OpenPrinterW(queue.pPrinterName, printer.receive(), &defaults)) return JobsPrinting::kUnknown;
  LocalBlock<JOB_INFO_1W> jobs;
  DWORD count = 0;
  // A call that fails without asking for room (Windows without EnumJobs
  // answers so) tells nothing.
  const bool read = ListSpoolerRecords(
      [&](LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD listed) {
        return os.EnumJobsW(printer.get(), 0, queue.cJobs, 1, buffer, size, needed, listed);
      },
      jobs, count);
  if (!read || (count == 0 && !jobs)) return read ? JobsPrinting::kNone : JobsPrinting::kUnknown;
  for (DWORD i = 0; i < count; ++i) {
    // JOB_INFO_1: the printing state is a bit of Status.
    if ((jobs.get()[i].Status & JOB_STATUS_PRINTING) != 0) {
      trace("A job is printing on %ws.", queue.pPrinterName);
      return JobsPrinting::kPrinting;
    }
  }
  return JobsPrinting::kNone;
}

}  // namespace

JobsPrinting FindPrintingJob() {
  LocalBlock<PRINTER_INFO_2W> queues;
  DWORD count = 0;
  if (!ListSpoolerRecords(
          [](LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD listed) {
            return os.EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, buffer, size, needed, listed);
          },
          queues, count)) {
    return JobsPrinting::kUnknown;
  }
  JobsPrinting found = JobsPrinting::kNone;
  for (DWORD i = 0; i < count; ++i) {
    // EnumJobs: the number of jobs is the queue's cJobs; a queue without any
    // is not asked.
    const PRINTER_INFO_2W& queue = queues.get()[i];
    if (queue.cJobs == 0 || queue.pPrinterName == nullptr) continue;
    const JobsPrinting jobs = JobsOf(queue);
    if (jobs == JobsPrinting::kPrinting) return jobs;
    if (jobs == JobsPrinting::kUnknown) found = jobs;
  }
  return found;
}
