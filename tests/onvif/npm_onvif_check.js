// Runs npm's onvif client against the simulated cameras and prints what it saw as one JSON line:
// discovery, device information, time (set and read back), stream URI, reboot, a wrong password.
//   node npm_onvif_check.js USER PASSWORD WRONG_PASSWORD
'use strict';
let onvif;
try {
  onvif = require('onvif');
} catch (e) {
  console.error('SKIP: npm package onvif is not installed (scripts/install-deps.sh installs it)');
  process.exit(77);
}
const [user, password, wrong] = process.argv.slice(2);
const step = (fn) => new Promise((resolve) => fn((err, data) => resolve({err, data})));
// Nothing may hang: the whole check is bounded.
setTimeout(() => { console.error('npm onvif check timed out'); process.exit(3); }, 60000).unref();

(async () => {
  const out = {};
  const found = await step((cb) => onvif.Discovery.probe({timeout: 3000, resolve: false}, cb));
  const matches = (found.data || []).map((m) => {
    const pm = m.probeMatches.probeMatch;
    return {urn: pm.endpointReference.address, xaddrs: pm.XAddrs};
  });
  out.discovered = matches.sort((a, b) => a.urn.localeCompare(b.urn));
  const first = new URL(out.discovered[0].xaddrs.split(' ')[0]);
  const cam = new onvif.Cam({hostname: first.hostname, port: Number(first.port || 80), username: user, password,
                             timeout: 5000, autoconnect: false});
  const connected = await step((cb) => cam.connect(cb));
  out.connect_error = connected.err ? String(connected.err.message || connected.err) : null;
  const info = await step((cb) => cam.getDeviceInformation(cb));
  out.info = info.data || String(info.err);
  const uri = await step((cb) => cam.getStreamUri({protocol: 'RTSP'}, cb));
  out.stream_uri = uri.data ? uri.data.uri : String(uri.err);
  const target = new Date(Date.UTC(2031, 4, 6, 7, 8, 9));
  const set = await step((cb) => cam.setSystemDateAndTime({dateTimeType: 'Manual', dateTime: target,
                                                          timezone: 'CST-8', daylightSavings: false}, cb));
  out.time_set_error = set.err ? String(set.err.message || set.err) : null;
  const time = await step((cb) => cam.getSystemDateAndTime(cb));
  out.time = time.data ? time.data.toISOString() : String(time.err);
  // This client keeps the clock offset it read first; after moving the camera's clock it must
  // connect again, or a camera that checks the token's time refuses it.
  const stale = await step((cb) => cam.getDeviceInformation(cb));
  out.stale_offset_error = stale.err ? String(stale.err.message || stale.err) : null;
  const again = new onvif.Cam({hostname: first.hostname, port: Number(first.port || 80), username: user, password,
                               timeout: 5000, autoconnect: false});
  const reconnected = await step((cb) => again.connect(cb));
  out.reconnect_error = reconnected.err ? String(reconnected.err.message || reconnected.err) : null;
  const reboot = await step((cb) => again.systemReboot(cb));
  out.reboot = reboot.err ? 'error: ' + String(reboot.err.message || reboot.err) : reboot.data;
  // Another camera: the first one is rebooting now.
  const second = new URL(out.discovered[out.discovered.length - 1].xaddrs.split(' ')[0]);
  const bad = new onvif.Cam({hostname: second.hostname, port: Number(second.port || 80), username: user,
                             password: wrong, timeout: 5000, autoconnect: false});
  const refused = await step((cb) => bad.getDeviceInformation(cb));
  out.wrong_password_error = refused.err ? String(refused.err.message || refused.err) : null;
  console.log(JSON.stringify(out));
  process.exit(0);
})().catch((e) => { console.error(e); process.exit(1); });
