#include "harvest/harvestjob.h"

#include "settings/config.h"

HarvestJob HarvestJob::fromSettings(const CConfig& config)
{
    HarvestJob job;
    job.timeoutMs = CConfig::timeoutMilliseconds(config.timeout());
    job.depth = config.depth();
    job.lineTemplate = config.outputFormat();
    return job;
}
