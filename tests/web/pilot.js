// A scripted pilot for the browser tests: speaks the plug-in's protocol to a relay server, byte for byte.
'use strict';
const crypto = require('crypto');
const dgram = require('dgram');
const net = require('net');

const PORT = 49556;

class Pilot {
  constructor(address, uniqueId) {
    this.address = address;
    this.id = uniqueId;
    this.linesSent = 0;
    this.datagramsSent = 0;
    this.received = '';
  }

  // Connects and sends "<id>|Opening Connection|<user>|<md5 of id, user and password>|".
  async login(user, password = 'secret') {
    this.stream = await new Promise((resolve, reject) => {
      const socket = net.connect(PORT, this.address, () => resolve(socket));
      socket.once('error', reject);
    });
    this.stream.on('data', (data) => { this.received += data.toString('latin1'); });
    this.udp = dgram.createSocket('udp4');
    const digest = crypto.createHash('md5').update(`${this.id}${user}${password}`).digest('hex');
    this.send(`${this.id}|Opening Connection|${user}|${digest}|\n`);
  }

  send(text) {
    this.linesSent += text.split('\n').length - 1;
    this.stream.write(text);
  }

  // The three identity messages a plug-in sends every 10 s; view-only sends only its callsign, under another tag.
  identify(callsign, plane, viewOnly = false) {
    if (viewOnly) {
      this.send(`${this.id}|VOCALLSIGN|${callsign}|\n`);
      return;
    }
    this.send(`${this.id}|PLANE|${plane}\n${this.id}|CALLSIGN|${callsign}|\n${this.id}|CREWID|BLANK|0|\n`);
  }

  // One location datagram: local x y z, latitude, longitude, elevation, pitch, roll, heading, 31 more state
  // fields, and the two time fields.
  locate(latitude, longitude, elevation, heading, viewOnly = false) {
    const fields = [0, 0, 0, latitude, longitude, elevation, 1.5, -2, heading];
    for (let i = 0; i < 8; i++) fields.push(0.25);
    for (let i = 0; i < 10; i++) fields.push(1);
    fields.push(1, 0, 1, 1, 0);
    for (let i = 0; i < 8; i++) fields.push(0.75);
    fields.push(1.76509338e9, 123456);
    const text = `${this.id}|${viewOnly ? 'VOLOC' : 'LOC'}|${fields.join('|')}`;
    this.datagramsSent += 1;
    return new Promise((resolve) => this.udp.send(text, PORT, this.address, () => resolve()));
  }

  chat(text) {
    this.send(`${this.id}|MESSAGE|${text}\n`);
  }

  close() {
    if (this.stream) this.stream.destroy();
    if (this.udp) this.udp.close();
  }
}

module.exports = { Pilot };
