#pragma once

// Start-up wiring: the one place that hands the platform's services to the application's
// shared instances.

class PlatformServices;

// Makes the shared picker controller and configures the global shortcuts on `platform`,
// which must outlive them (they are never destroyed). Once, on the main thread, after
// the application object exists and before any of them is used.
void configureSharedInstances(PlatformServices& platform);

// The platform configureSharedInstances() was given, for the shared windows' services.
PlatformServices& sharedPlatform();
bool isSharedPlatformConfigured();
