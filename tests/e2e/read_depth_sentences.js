// Reads NMEA depth sentences, one a line on standard input, with Signal K's
// NMEA 0183 parser (the one Signal K servers feed chart plotters with), and
// prints what it makes of each: the sentence's kind, then each value as
// path=value, the path without "environment.depth.", null for none. A line
// it refuses (a wrong checksum) prints "refused". Run with NODE_PATH at the
// parser's node_modules (scripts/setup.sh, the readers).
const Parser = require('@signalk/nmea0183-signalk');
const readline = require('readline');

const parser = new Parser();
const lines = readline.createInterface({input: process.stdin});
lines.on('line', (line) => {
    const sentence = line.trim();
    if (!sentence.startsWith('$')) return;
    let delta = null;
    try {
        delta = parser.parse(sentence);
    } catch (error) {
        console.log('refused ' + sentence);
        return;
    }
    const values = delta ? delta.updates[0].values : [];
    const kind = sentence.substring(3, 6);
    console.log([kind].concat(values.map((v) => v.path.replace('environment.depth.', '') + '=' + v.value)).join(' '));
});
