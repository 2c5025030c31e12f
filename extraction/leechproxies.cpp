#include "extraction/leechproxies.h"

CLeechProxies::CLeechProxies(QObject* parent) : QThread(parent) {}

CLeechProxies::~CLeechProxies()
{
    closeOutput();
    wait();
}

void CLeechProxies::closeOutput()
{
    // Filled in with the extraction work.
}

void CLeechProxies::run()
{
    // Filled in with the extraction work.
}
