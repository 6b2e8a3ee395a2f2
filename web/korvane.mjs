// The Korvane page library as an ES module. It runs korvane.js itself, which also defines the global
// Korvane; a page loads either this module or the <script>, not both.
import './korvane.js';

const Korvane = globalThis.Korvane;
export default Korvane;
export const { connect, detect, pluginAvailable, KorvaneError } = Korvane;
